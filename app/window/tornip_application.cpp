#include "app/window/tornip_application.h"

#include <QMessageBox>

#include "app/window/form1.h"
#include "components/framework/component.h"
#include "components/password_dialog/password_dialog.h"
#include "components/session_list.h"

namespace vevura::app {

TTornipApplication::TTornipApplication(int& argc, char** argv) : QApplication(argc, argv) {
  ShowError = [](const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), QCoreApplication::applicationName(),
                          message);
  };
  SetApplicationErrorHandler([this](const std::exception& error) { HandleException(error); });
}

TTornipApplication::~TTornipApplication() {
  SetApplicationErrorHandler(nullptr);
}

bool TTornipApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    HandleException(error);
  }
  return false;
}

void TTornipApplication::HandleException(const std::exception& error) {
  if (ShowError) ShowError(QString::fromLocal8Bit(error.what()));
}

int RunWindow(int argc, char** argv) {
  int status = 0;
  {
    TTornipApplication application(argc, argv);
    InstallPasswordDialog();
    TForm1 form;
    form.show();
    status = application.exec();
  }
  Sessions().CloseAll();
  return status;
}

}  // namespace vevura::app
