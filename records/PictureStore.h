#pragma once

#include <QString>

class Database;

// Where the slot pictures of saved examinations live. With SQLite, images/ is their only
// store. With the records on a server, each picture is stored in the database in the
// examination's transaction, so every room reads it, and images/ is a local cache filled on
// demand. One Database per thread: the window and the outbox's worker each call it with their
// own connection.
namespace PictureStore {

// Before a picture named by a record is shown: fetches it from the database into the images
// folder when the file is missing there and the records are on a server. A name that is not a
// plain file name, or a picture the database does not hold, leaves the folder as it is.
// Throws AppError when the database fails or the cache file cannot be written.
void fetchWhenMissing(const Database &db, const QString &imagesFolder, const QString &name);

// Inside the examination's transaction: the picture file just written to the images folder is
// stored in the database too (nothing with SQLite). Throws AppError on failure.
void store(const Database &db, const QString &imagesFolder, const QString &name);

} // namespace PictureStore
