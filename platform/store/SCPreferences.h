// The network preferences store: a tree of property values kept in an XML property list
// (KPaths::StorePath()), shared by every process on the machine.
//
// A connection (SCPreferences) reads the file when it is created and works on its own copy;
// its changes reach the file only through SCPreferencesCommitChanges. Paths name dictionaries
// in the tree: "/Sets/0/Network" is the value under "Network" of the dictionary under "0" of
// the top-level dictionary "Sets". Values in the tree are immutable and are replaced, never
// changed in place, so a dictionary handed out stays as it was read.
//
// Locking: an exclusive flock(2) on KPaths::StoreLockPath(), held by a connection from
// SCPreferencesLock to SCPreferencesUnlock or its release. Taking the lock brings an unchanged
// copy up to date with the file; a copy that has local changes and whose file was rewritten by
// someone else since it was read is "stale" and the lock is refused, as is a commit of it, so
// that no writer silently undoes another one's commit. A commit without the lock takes the
// lock for the length of the commit. The lock belongs to the process that took it: a child
// forked while it is held does not hold it (its copies of the lock descriptors are closed).
//
// Commit: the tree goes to "<store>.new" in the same folder, which is fsync'ed, renamed over
// the store, and the folder fsync'ed, so that a crash leaves either the old or the new file,
// whole. The file gets mode 0640 and, when the process runs as root, group "dip". A temporary
// file left by a writer that died is removed by the next commit (only the lock holder writes it).
//
// Unique children: SCPreferencesPathCreateUniqueChild names a new child with a random
// version-4 UUID in upper case (e.g. "3F2504E0-4F89-41D3-9A0C-0305E82C3301"), drawn again if a
// sibling already has it; keys of removed children are therefore not handed out again.
//
// Apply: SCPreferencesApplyChanges calls the apply hook of the connection or, when it has none,
// the process-wide one (see SCPreferencesSetApplyHook); with neither it does nothing and
// succeeds. The PPP layer installs the hook that writes the pppd peer file.
//
// Failures return false or an empty handle and record one of the positive status codes below,
// which SCError() reads until the next failure.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// Status codes of the store (positive, as the library passes them through).
constexpr OSStatus kStoreStatusFailed = 1001;          // plain failure
constexpr OSStatus kStoreStatusInvalidArgument = 1002; // malformed path or key, no value, not a dictionary where one is needed
constexpr OSStatus kStoreStatusAccessError = 1003;     // the store file or its folder cannot be read or written
constexpr OSStatus kStoreStatusNoKey = 1004;           // no value at the path or under the key
constexpr OSStatus kStoreStatusLocked = 1005;          // another connection holds the lock (wait false)
constexpr OSStatus kStoreStatusLockError = 1006;       // the lock file cannot be opened or locked
constexpr OSStatus kStoreStatusStale = 1007;           // the file changed after this connection read it
constexpr OSStatus kStoreStatusCorrupt = 1008;         // the store file is not a property-list dictionary
constexpr OSStatus kStoreStatusNeedLock = 1009;        // unlock without holding the lock
constexpr OSStatus kStoreStatusNotAFile = 1010;        // the store path names a FIFO, device or socket (not a file)
constexpr OSStatus kStoreStatusNotWritable = 1011;     // the tree holds values the store file cannot carry as they are
                                                       // (control characters, UIDs, integers beyond 64 bits signed, ...)

// One line on a status of the store for people: what is wrong, without the file's name.
const char* SCErrorString(OSStatus status);

class SCPreferences;
using SCPreferencesRef = std::unique_ptr<SCPreferences>;

// Called by SCPreferencesApplyChanges with the tree as the connection last read or committed
// it (the committed store). Returns 0 on success or a status code that SCError then reports.
using SCPreferencesApplyHook = std::function<OSStatus(const PDictionary& committedTree)>;

// A new connection to the store at KPaths::StorePath(), or none (SCError tells why:
// kStoreStatusCorrupt for a file that does not parse or nests too deep, kStoreStatusAccessError
// for one that cannot be read or a folder, kStoreStatusNotAFile for a FIFO, device or socket
// in its place). A missing file is an empty tree. A tree read with values that would change if written
// back can be read, but its commits fail with kStoreStatusNotWritable.
SCPreferencesRef SCPreferencesCreate(std::string_view clientName);
// The same on another store file and lock file (tools and tests).
SCPreferencesRef SCPreferencesCreateWithPaths(std::string_view clientName, const std::string& storePath,
                                              const std::string& lockPath);

bool SCPreferencesLock(SCPreferences* prefs, bool wait);
bool SCPreferencesUnlock(SCPreferences* prefs);
bool SCPreferencesCommitChanges(SCPreferences* prefs);
bool SCPreferencesApplyChanges(SCPreferences* prefs);

// Top-level values.
PRef<PValue> SCPreferencesGetValue(SCPreferences* prefs, std::string_view key);
bool SCPreferencesSetValue(SCPreferences* prefs, std::string_view key, const PValue* value);

// Dictionaries at paths. Links ("__LINK__") are not followed; SCPreferencesPathGetLink reads them.
PRef<PDictionary> SCPreferencesPathGetValue(SCPreferences* prefs, std::string_view path);
bool SCPreferencesPathSetValue(SCPreferences* prefs, std::string_view path, const PDictionary* value);
bool SCPreferencesPathRemoveValue(SCPreferences* prefs, std::string_view path);
PRef<PString> SCPreferencesPathCreateUniqueChild(SCPreferences* prefs, std::string_view parentPath);
PRef<PString> SCPreferencesPathGetLink(SCPreferences* prefs, std::string_view path);

// The status of this process's most recent failed store operation; 0 when none.
OSStatus SCError();
// Records a status as SCError's (the store's own use; 0 clears it).
void SCErrorSet(OSStatus status);

// Apply hooks: per connection, and the process-wide one used by connections without their own
// (the library creates its connection itself, so a program installs the process-wide hook
// before its first open). An empty function removes the hook.
void SCPreferencesSetApplyHook(SCPreferences* prefs, SCPreferencesApplyHook hook);
void SCPreferencesSetDefaultApplyHook(SCPreferencesApplyHook hook);

// The connection itself; callers use the functions above.
class SCPreferences {
public:
    ~SCPreferences();
    SCPreferences(const SCPreferences&) = delete;
    SCPreferences& operator=(const SCPreferences&) = delete;

    const std::string& ClientName() const { return mName; }
    const std::string& StorePath() const { return mStorePath; }
    bool IsLocked() const { return mLockFd >= 0; }
    bool HasChanges() const { return mChanged; }

private:
    SCPreferences() = default;

    // Which file the copy was read from: every commit renames a new file into place, so a
    // commit by anyone else changes the inode; an edit in place changes size or times.
    struct FileStamp {
        bool exists = false;
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = 0;
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };

    std::string mName;
    std::string mStorePath;
    std::string mLockPath;
    PRef<PDictionary> mTree;      // the working copy
    PRef<PDictionary> mCommitted; // the tree as read or last committed
    FileStamp mStamp;             // the file as it was when read or last committed
    bool mChanged = false;
    bool mRewritable = true;      // the file as read can be written back unchanged
    int mLockFd = -1;
    SCPreferencesApplyHook mApplyHook;

    friend struct SCPreferencesAccess;
};
