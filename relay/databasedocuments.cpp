#include "relay/databasedocuments.h"

#include <algorithm>
#include <cstring>

#include "relay/relay-private.h"

namespace {

// Large enough that a statement's round trip is small beside its bytes (a quarter of
// this halved the rates on a busy machine), small enough that each transfer under way
// holds little memory.
constexpr size_t kPieceBytes = 1024 * 1024;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS document_pieces (document TEXT NOT NULL, piece INTEGER NOT NULL,"
    " written BIGINT NOT NULL, bytes BYTEA NOT NULL, PRIMARY KEY (document, piece))",
    // Documents are mostly compressed already (PDF, JPEG): compressing them costs more than it saves.
    "ALTER TABLE document_pieces ALTER COLUMN bytes SET STORAGE EXTERNAL",
};

}  // namespace

class DatabaseDocuments::Incoming : public IncomingDocument {
public:
  Incoming(DatabaseDocuments& store, std::string id) : store_(store), id_(std::move(id)) {
    pending_.reserve(kPieceBytes);
  }
  ~Incoming() override {
    if (!committed_ && pieces_ > 0) store_.Remove(id_);
  }

  bool Write(const char* data, size_t size) override {
    while (size > 0) {
      const size_t taken = std::min(size, kPieceBytes - pending_.size());
      pending_.append(data, taken);
      data += taken;
      size -= taken;
      if (pending_.size() == kPieceBytes && !WritePiece()) return false;
    }
    return true;
  }

  bool Commit() override {
    committed_ = pending_.empty() || WritePiece();
    return committed_;
  }

  SqlFailure Failure() const override { return failure_; }

private:
  bool WritePiece() {
    auto db = store_.pool_.Acquire();
    std::vector<std::string> params = {id_, std::to_string(pieces_), std::to_string(Now()), std::move(pending_)};
    pending_.clear();
    pending_.reserve(kPieceBytes);
    if (!db->Execute("INSERT INTO document_pieces (document, piece, written, bytes) VALUES ($1, $2, $3, $4)", params,
                     {4, false})
             .ok) {
      failure_ = LastSqlFailure();
      return false;
    }
    ++pieces_;
    return true;
  }

  DatabaseDocuments& store_;
  std::string id_;
  std::string pending_;  // the bytes of the next piece
  long long pieces_ = 0;
  bool committed_ = false;
  SqlFailure failure_ = SqlFailure::None;
};

class DatabaseDocuments::Reader : public DocumentReader {
public:
  Reader(SqlPool& pool, std::string id) : pool_(pool), id_(std::move(id)) {}

  long long Read(unsigned long long offset, char* into, size_t size) override {
    if (offset != read_) return -1;
    if (used_ == piece_.size()) {
      // One statement per piece: the connection goes back while the client takes the bytes.
      auto db = pool_.Acquire();
      SqlResult found = db->Execute("SELECT bytes FROM document_pieces WHERE document = $1 AND piece = $2",
                                    {id_, std::to_string(next_)}, {0, true});
      // A document acknowledged or expired meanwhile is gone.
      if (!found.ok || found.rows.empty() || found.rows[0][0].empty()) return -1;
      piece_ = std::move(found.rows[0][0]);
      used_ = 0;
      ++next_;
    }
    const size_t copied = std::min(size, piece_.size() - used_);
    std::memcpy(into, piece_.data() + used_, copied);
    used_ += copied;
    read_ += copied;
    return static_cast<long long>(copied);
  }

private:
  SqlPool& pool_;
  std::string id_;
  std::string piece_;
  size_t used_ = 0;
  long long next_ = 0;
  unsigned long long read_ = 0;
};

bool DatabaseDocuments::Open(std::string& error) {
  auto db = pool_.Acquire();
  // Relays starting together take turns.
  return db->LockedTransaction([&] {
    for (const char* statement : kSchema) {
      const SqlResult result = db->Execute(statement);
      if (!result.ok) {
        error = result.error;
        return false;
      }
    }
    return true;
  });
}

std::unique_ptr<IncomingDocument> DatabaseDocuments::Begin(const std::string& id, SqlFailure&) {
  return std::make_unique<Incoming>(*this, id);
}

SqlFailure DatabaseDocuments::Find(const std::string& id, long long size, DocumentBody& body) {
  auto db = pool_.Acquire();
  // The length of a stored value is read without its bytes.
  const SqlResult found =
      db->Execute("SELECT COALESCE(SUM(LENGTH(bytes)), 0) FROM document_pieces WHERE document = $1", {id});
  if (!found.ok) return LastSqlFailure();
  // Exactly the announced bytes or nothing: the desktop checks the length.
  if (found.rows.empty() || found.rows[0][0] != std::to_string(size)) return SqlFailure::Failed;
  body = {-1, std::make_shared<Reader>(pool_, id), size};
  return SqlFailure::None;
}

void DatabaseDocuments::Remove(const std::string& id) {
  auto db = pool_.Acquire();
  db->Execute("DELETE FROM document_pieces WHERE document = $1", {id});
}

void DatabaseDocuments::RemoveAbandoned(long long cutoff) {
  auto db = pool_.Acquire();
  // An upload under way writes a piece now and then; its last piece dates the document.
  db->Execute(
      "DELETE FROM document_pieces WHERE document IN"
      " (SELECT document FROM document_pieces GROUP BY document HAVING MAX(written) < $1)",
      {std::to_string(cutoff)});
}
