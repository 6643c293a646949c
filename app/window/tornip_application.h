#pragma once
// TTornipApplication: the catalog builder's QApplication, and its general
// error handler.
//
// An error of an event handler (a run's engine error, a LIC file that cannot
// be read, a list error) ends that handler only and its message is shown; the
// window stays usable. The application installs itself as the process-wide
// application error handler (vevura::HandleApplicationError) while it lives,
// where the window's handlers and destructors report their errors; notify()
// catches what any other handler lets escape and shows it the same way.

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

namespace vevura::app {

class TTornipApplication : public QApplication {
 public:
  TTornipApplication(int& argc, char** argv);
  ~TTornipApplication() override;
  TTornipApplication(const TTornipApplication&) = delete;
  TTornipApplication& operator=(const TTornipApplication&) = delete;

  //! Shows an error's message; by default a critical message box.
  std::function<void(const QString& message)> ShowError;

  bool notify(QObject* receiver, QEvent* event) override;
  //! Shows error through ShowError.
  void HandleException(const std::exception& error);
};

//! Opens the window and runs the event loop until it is closed; the exit
//! status of the event loop.
int RunWindow(int argc, char** argv);

}  // namespace vevura::app
