// Uses the installed library: connects a database on the directory given as
// the argument, disconnects it and closes every session. Exits 0 on success.

#include <exception>
#include <filesystem>
#include <iostream>

#include "components/session_list.h"
#include "components/vevura_database.h"
#include "engine/base/engine_version.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: consumer DIRECTORY\n";
    return 2;
  }
  try {
    std::filesystem::create_directories(argv[1]);
    {
      vevura::TVEVURADatabase database;
      database.SetDatabaseName("Consumer");
      database.SetDirectory(argv[1]);
      database.SetConnected(true);
      if (!database.Connected() || database.DataDirectory() == nullptr) {
        std::cerr << "consumer: the database did not connect\n";
        return 1;
      }
      database.SetConnected(false);
    }
    vevura::Sessions().CloseAll();
    std::cout << "vevura " << vevura::kEngineVersion << ": connected and closed\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "consumer: " << error.what() << "\n";
    return 1;
  }
}
