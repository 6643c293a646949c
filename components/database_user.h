#pragma once
// TDatabaseUser: what a database knows of the datasets that use it.
//
// A dataset attaches itself to its database while it holds the database and
// detaches when it lets go. When the database disconnects (directly, or
// because its session deactivates) it closes its attached users, the most
// recently attached first, before it gives up its data directory: no user
// may outlive the directory its cursors work in. A user may detach itself
// and give the database back (CloseDatabase) from inside CloseForDatabase.

namespace vevura {

class TDatabaseUser {
 public:
  virtual ~TDatabaseUser() = default;
  //! Closes the user because its database is disconnecting.
  virtual void CloseForDatabase() = 0;
};

}  // namespace vevura
