#include "platform/store/SCPreferences.h"

#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"
#include "platform/store/StoreXML.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <vector>

namespace {

std::atomic<OSStatus> gStoreError{0};
SCPreferencesApplyHook gDefaultApplyHook;

// Connections of this process that hold the lock. A forked child would share their flock (it
// belongs to the open file, not the process) and keep it after the parent unlocks; the child
// drops them at once instead.
std::set<SCPreferences*>& LockHolders()
{
    static std::set<SCPreferences*> holders; // made on first use, whatever the order of static initialisation
    return holders;
}
std::once_flag gAtForkOnce;

bool Fail(OSStatus status)
{
    gStoreError.store(status, std::memory_order_relaxed);
    return false;
}

template <class T>
PRef<T> FailNone(OSStatus status)
{
    Fail(status);
    return {};
}

std::string Folder(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Splits "/a/b/c" into {"a","b","c"}; empty components (doubled or trailing "/") are skipped.
// False when the path does not begin with "/".
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts)
{
    parts.clear();
    if (path.empty() || path[0] != '/') return false;
    size_t i = 1;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos) j = path.size();
        if (j > i) parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return true;
}

// The tree with `value` stored under parts[i..] of `node` (none: remove it). Every dictionary
// on the way is copied, the rest is shared. Missing dictionaries on the way are created when
// `create`. Empty result with the status in `status` on failure.
PRef<PDictionary> Replace(const PDictionary* node, const std::vector<std::string_view>& parts, size_t i,
                          const PRef<PValue>& value, bool create, OSStatus& status)
{
    PRef<PDictionary> copy = node ? node->MutableCopy() : PDictionary::CreateMutable();
    const std::string_view key = parts[i];
    if (i + 1 == parts.size()) {
        if (value) {
            copy->Set(key, value);
        } else {
            if (!copy->Contains(key)) { status = kStoreStatusNoKey; return {}; }
            copy->Remove(key);
        }
    } else {
        const PValue* child = copy->Get(key);
        if (!child && !create) { status = kStoreStatusNoKey; return {}; }
        if (child && child->Type() != PType::Dictionary) { status = kStoreStatusInvalidArgument; return {}; }
        auto sub = Replace(PValue::As<PDictionary>(child), parts, i + 1, value, create, status);
        if (!sub) return {};
        copy->Set(key, std::move(sub));
    }
    return copy->ImmutableCopy();
}


} // namespace

// Private access to the connection's state for the functions of this file.
struct SCPreferencesAccess {
    using Stamp = SCPreferences::FileStamp;

    static SCPreferences* New() { return new SCPreferences(); }

    static Stamp StampOf(const struct stat& st)
    {
        Stamp s;
        s.exists = true;
        s.device = static_cast<uint64_t>(st.st_dev);
        s.inode = static_cast<uint64_t>(st.st_ino);
        s.size = static_cast<int64_t>(st.st_size);
        s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        s.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
        return s;
    }

    // The stamp of the store file as it is now (a missing file has the empty stamp).
    static OSStatus StatStore(const std::string& path, Stamp& stamp)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) return kStoreStatusAccessError;
            stamp = Stamp{};
            return kStatusOK;
        }
        stamp = StampOf(st);
        return kStatusOK;
    }

    // Reads the store file: its stamp and its tree (missing file: empty). `rewritable` is false
    // when the tree holds values a commit could not write back as they are.
    static OSStatus ReadStore(const std::string& path, Stamp& stamp, PRef<PDictionary>& tree, bool& rewritable)
    {
        rewritable = true;
        // Without blocking, so that a FIFO in the store's place cannot hang the open.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            if (errno != ENOENT && errno != ENOTDIR) return kStoreStatusAccessError;
            stamp = Stamp{};
            tree = PDictionary::CreateMutable()->ImmutableCopy();
            return kStatusOK;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return kStoreStatusAccessError;
        }
        if (!S_ISREG(st.st_mode)) {
            // A folder cannot be read, as before; a FIFO, device or socket is refused unread.
            ::close(fd);
            return S_ISDIR(st.st_mode) ? kStoreStatusAccessError : kStoreStatusNotAFile;
        }
        stamp = StampOf(st);
        if (st.st_size <= 0) {
            ::close(fd);
            return kStoreStatusCorrupt;
        }
        // Parsed straight from the page cache: no copy of a large store, no zeroed buffer, and
        // never more than the size the file had when opened.
        const auto size = static_cast<size_t>(st.st_size);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        ::close(fd);
        if (map == MAP_FAILED) return kStoreStatusAccessError;
        const std::string_view bytes(static_cast<const char*>(map), size);
        // Our own reader first; the general one for forms it does not take (binary plists). A
        // file our reader refuses for its nesting is corrupt for both.
        bool tooDeep = false;
        PRef<PValue> value = StoreXMLRead(bytes, &tooDeep);
        if (!value && !tooDeep) value = PListCreateFromData(bytes, false, &rewritable);
        ::munmap(map, size);
        auto root = PRefCast<PDictionary>(value);
        if (!root) return kStoreStatusCorrupt;
        tree = std::move(root);
        return kStatusOK;
    }

    static int OpenLockFile(const SCPreferences& p)
    {
        KPaths::MakeFolders(Folder(p.mLockPath), 0755);
        return ::open(p.mLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640);
    }

    // Takes the lock on a new descriptor; -1 with the status on failure.
    static int TakeLock(const SCPreferences& p, bool wait, OSStatus& status)
    {
        const int fd = OpenLockFile(p);
        if (fd < 0) { status = kStoreStatusLockError; return -1; }
        int r;
        do {
            r = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
        } while (r != 0 && errno == EINTR);
        if (r != 0) {
            status = (errno == EWOULDBLOCK) ? kStoreStatusLocked : kStoreStatusLockError;
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // `previous` is the stamp of the file being replaced.
    static OSStatus WriteStore(SCPreferences& p, const Stamp& previous)
    {
        const std::string folder = Folder(p.mStorePath);
        if (KPaths::MakeFolders(folder, 0755) != 0) return kStoreStatusAccessError;
        const std::string tmp = p.mStorePath + ".new";
        // Only the lock holder writes the temporary file; one left by a writer that died goes.
        ::unlink(tmp.c_str());
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0640);
        if (fd < 0) return kStoreStatusAccessError;
        bool ok = ::fchmod(fd, 0640) == 0;
        if (ok && ::geteuid() == 0) {
            if (const struct group* g = ::getgrnam("dip")) ok = ::fchown(fd, static_cast<uid_t>(-1), g->gr_gid) == 0;
        }
        StoreXMLResult written = StoreXMLResult::WriteFailed;
        if (ok) {
            written = StoreXMLWriteToFile(*p.mTree, fd);
            ok = written == StoreXMLResult::Ok;
        }
        // Every commit's file gets a modification time later than the one it replaces, to the
        // nanosecond: a recycled inode of the same size can then never pass for a file a
        // connection read earlier.
        if (ok) {
            timespec ts {};
            clock_gettime(CLOCK_REALTIME, &ts);
            int64_t ns = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
            if (previous.exists && ns <= previous.mtimeNs) ns = previous.mtimeNs + 1;
            const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)}};
            ok = ::futimens(fd, times) == 0;
        }
        ok = ok && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (ok) ok = ::rename(tmp.c_str(), p.mStorePath.c_str()) == 0;
        if (!ok) {
            ::unlink(tmp.c_str());
            return written == StoreXMLResult::NotRepresentable ? kStoreStatusNotWritable : kStoreStatusAccessError;
        }
        const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
        return kStatusOK;
    }

    static bool Lock(SCPreferences& p, bool wait)
    {
        if (p.mLockFd >= 0) return true;
        OSStatus status = kStatusOK;
        const int fd = TakeLock(p, wait, status);
        if (fd < 0) return Fail(status);
        // Bring the copy up to date with the file, unless it has changes of its own.
        Stamp now;
        PRef<PDictionary> tree;
        bool rewritable = true;
        status = StatStore(p.mStorePath, now);
        if (status == kStatusOK && !(now == p.mStamp)) {
            if (p.mChanged) status = kStoreStatusStale;
            else status = ReadStore(p.mStorePath, now, tree, rewritable);
            if (status == kStatusOK) {
                p.mTree = tree;
                p.mCommitted = tree;
                p.mStamp = now;
                p.mRewritable = rewritable;
            }
        }
        if (status != kStatusOK) {
            ::close(fd);
            return Fail(status);
        }
        p.mLockFd = fd;
        std::call_once(gAtForkOnce, [] { pthread_atfork(nullptr, nullptr, &SCPreferencesAccess::DropLocksInChild); });
        LockHolders().insert(&p);
        return true;
    }

    static void DropLocksInChild()
    {
        for (SCPreferences* p : LockHolders()) {
            ::close(p->mLockFd);
            p->mLockFd = -1;
        }
        LockHolders().clear();
    }

    static void Forget(SCPreferences& p) { LockHolders().erase(&p); }

    static bool Unlock(SCPreferences& p)
    {
        if (p.mLockFd < 0) return Fail(kStoreStatusNeedLock);
        ::close(p.mLockFd); // closing the only descriptor of the lock releases it
        p.mLockFd = -1;
        Forget(p);
        return true;
    }

    static bool Commit(SCPreferences& p)
    {
        if (!p.mChanged) return true;
        // Writing it back would change values the file holds (read from a binary list).
        if (!p.mRewritable) return Fail(kStoreStatusNotWritable);
        OSStatus status = kStatusOK;
        int tempLock = -1;
        if (p.mLockFd < 0) {
            tempLock = TakeLock(p, true, status);
            if (tempLock < 0) return Fail(status);
        }
        Stamp now;
        status = StatStore(p.mStorePath, now);
        if (status == kStatusOK && !(now == p.mStamp)) status = kStoreStatusStale;
        if (status == kStatusOK) status = WriteStore(p, now);
        // Still under the lock: nobody else can have replaced the file yet.
        if (status == kStatusOK) status = StatStore(p.mStorePath, now);
        if (tempLock >= 0) ::close(tempLock);
        if (status != kStatusOK) return Fail(status);
        p.mStamp = now;
        p.mCommitted = p.mTree;
        p.mChanged = false;
        return true;
    }

    static bool Apply(SCPreferences& p)
    {
        const SCPreferencesApplyHook& hook = p.mApplyHook ? p.mApplyHook : gDefaultApplyHook;
        if (!hook) return true;
        const OSStatus status = hook(*p.mCommitted);
        return status == kStatusOK ? true : Fail(status);
    }

    static PRef<PValue> Lookup(const SCPreferences& p, const std::vector<std::string_view>& parts)
    {
        PRef<PValue> node = p.mTree;
        for (const auto& key : parts) {
            const auto* dict = PValue::As<PDictionary>(node.get());
            if (!dict) return {};
            node = dict->GetRef(key);
            if (!node) return {};
        }
        return node;
    }

    static bool Store(SCPreferences& p, const std::vector<std::string_view>& parts, const PRef<PValue>& value,
                      bool create)
    {
        if (parts.empty()) {
            // The root itself: only a dictionary can take its place.
            auto dict = PRefCast<PDictionary>(value);
            if (!dict) return Fail(kStoreStatusInvalidArgument);
            p.mTree = std::move(dict);
        } else {
            OSStatus status = kStatusOK;
            auto tree = Replace(p.mTree.get(), parts, 0, value, create, status);
            if (!tree) return Fail(status);
            p.mTree = std::move(tree);
        }
        p.mChanged = true;
        return true;
    }

    static void SetHook(SCPreferences& p, SCPreferencesApplyHook hook) { p.mApplyHook = std::move(hook); }
    static void Init(SCPreferences& p, std::string_view name, const std::string& store, const std::string& lock)
    {
        p.mName = std::string(name);
        p.mStorePath = store;
        p.mLockPath = lock;
    }
    static OSStatus Load(SCPreferences& p)
    {
        PRef<PDictionary> tree;
        const OSStatus status = ReadStore(p.mStorePath, p.mStamp, tree, p.mRewritable);
        if (status != kStatusOK) return status;
        p.mTree = tree;
        p.mCommitted = tree;
        return kStatusOK;
    }
};

SCPreferences::~SCPreferences()
{
    if (mLockFd >= 0) {
        ::close(mLockFd);
        SCPreferencesAccess::Forget(*this);
    }
}

SCPreferencesRef SCPreferencesCreateWithPaths(std::string_view clientName, const std::string& storePath,
                                              const std::string& lockPath)
{
    SCPreferencesRef prefs(SCPreferencesAccess::New());
    SCPreferencesAccess::Init(*prefs, clientName, storePath, lockPath);
    if (const OSStatus status = SCPreferencesAccess::Load(*prefs)) {
        Fail(status);
        return {};
    }
    return prefs;
}

SCPreferencesRef SCPreferencesCreate(std::string_view clientName)
{
    return SCPreferencesCreateWithPaths(clientName, KPaths::StorePath(), KPaths::StoreLockPath());
}

bool SCPreferencesLock(SCPreferences* prefs, bool wait)
{
    if (!prefs) return Fail(kStoreStatusInvalidArgument);
    return SCPreferencesAccess::Lock(*prefs, wait);
}

bool SCPreferencesUnlock(SCPreferences* prefs)
{
    if (!prefs) return Fail(kStoreStatusInvalidArgument);
    return SCPreferencesAccess::Unlock(*prefs);
}

bool SCPreferencesCommitChanges(SCPreferences* prefs)
{
    if (!prefs) return Fail(kStoreStatusInvalidArgument);
    return SCPreferencesAccess::Commit(*prefs);
}

bool SCPreferencesApplyChanges(SCPreferences* prefs)
{
    if (!prefs) return Fail(kStoreStatusInvalidArgument);
    return SCPreferencesAccess::Apply(*prefs);
}

PRef<PValue> SCPreferencesGetValue(SCPreferences* prefs, std::string_view key)
{
    if (!prefs || key.empty()) return FailNone<PValue>(kStoreStatusInvalidArgument);
    auto v = SCPreferencesAccess::Lookup(*prefs, {key});
    if (!v) return FailNone<PValue>(kStoreStatusNoKey);
    return v;
}

bool SCPreferencesSetValue(SCPreferences* prefs, std::string_view key, const PValue* value)
{
    if (!prefs || key.empty() || !value) return Fail(kStoreStatusInvalidArgument);
    return SCPreferencesAccess::Store(*prefs, {key}, value->DeepCopy(false), false);
}

PRef<PDictionary> SCPreferencesPathGetValue(SCPreferences* prefs, std::string_view path)
{
    std::vector<std::string_view> parts;
    if (!prefs || !SplitPath(path, parts)) return FailNone<PDictionary>(kStoreStatusInvalidArgument);
    auto v = SCPreferencesAccess::Lookup(*prefs, parts);
    if (!v) return FailNone<PDictionary>(kStoreStatusNoKey);
    auto dict = PRefCast<PDictionary>(v);
    if (!dict) return FailNone<PDictionary>(kStoreStatusNoKey);
    return dict;
}

bool SCPreferencesPathSetValue(SCPreferences* prefs, std::string_view path, const PDictionary* value)
{
    std::vector<std::string_view> parts;
    if (!prefs || !value || !SplitPath(path, parts)) return Fail(kStoreStatusInvalidArgument);
    return SCPreferencesAccess::Store(*prefs, parts, value->DeepCopy(false), true);
}

bool SCPreferencesPathRemoveValue(SCPreferences* prefs, std::string_view path)
{
    std::vector<std::string_view> parts;
    if (!prefs || !SplitPath(path, parts) || parts.empty()) return Fail(kStoreStatusInvalidArgument);
    return SCPreferencesAccess::Store(*prefs, parts, {}, false);
}

namespace {

std::string NewUUID()
{
    uint8_t b[16];
    size_t got = 0;
    while (got < sizeof b) {
        const ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += static_cast<size_t>(n);
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2],
                  b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

} // namespace

PRef<PString> SCPreferencesPathCreateUniqueChild(SCPreferences* prefs, std::string_view parentPath)
{
    std::vector<std::string_view> parts;
    if (!prefs || !SplitPath(parentPath, parts)) return FailNone<PString>(kStoreStatusInvalidArgument);
    auto parent = SCPreferencesAccess::Lookup(*prefs, parts);
    if (parent && parent->Type() != PType::Dictionary) return FailNone<PString>(kStoreStatusInvalidArgument);
    const auto* parentDict = PValue::As<PDictionary>(parent.get());
    std::string key;
    do {
        key = NewUUID();
        if (key.empty()) return FailNone<PString>(kStoreStatusFailed);
    } while (parentDict && parentDict->Contains(key));
    std::string path;
    for (const auto& part : parts) {
        path += '/';
        path += part;
    }
    path += '/';
    path += key;
    parts.push_back(key);
    if (!SCPreferencesAccess::Store(*prefs, parts, PDictionary::CreateMutable()->ImmutableCopy(), true))
        return {};
    return PStr(path);
}

PRef<PString> SCPreferencesPathGetLink(SCPreferences* prefs, std::string_view path)
{
    auto dict = SCPreferencesPathGetValue(prefs, path);
    if (!dict) return {};
    auto link = PRefCast<PString>(dict->GetRef("__LINK__"));
    if (!link) return FailNone<PString>(kStoreStatusNoKey);
    return link;
}

const char* SCErrorString(OSStatus status)
{
    switch (status) {
    case kStatusOK: return "no error";
    case kStoreStatusFailed: return "the operation failed";
    case kStoreStatusInvalidArgument: return "a path or value was not acceptable";
    case kStoreStatusAccessError: return "the file or its folder cannot be read or written";
    case kStoreStatusNoKey: return "there is no such value";
    case kStoreStatusLocked: return "another program holds the lock";
    case kStoreStatusLockError: return "the lock file cannot be opened or locked";
    case kStoreStatusStale: return "the file was changed by another program meanwhile";
    case kStoreStatusCorrupt: return "the file is not a property-list dictionary (corrupt)";
    case kStoreStatusNeedLock: return "the lock is not held";
    case kStoreStatusNotAFile: return "it is not a regular file (a FIFO, device or socket)";
    case kStoreStatusNotWritable: return "it holds values that cannot be written back unchanged";
    default: return "unexpected failure";
    }
}

OSStatus SCError() { return gStoreError.load(std::memory_order_relaxed); }
void SCErrorSet(OSStatus status) { gStoreError.store(status, std::memory_order_relaxed); }

void SCPreferencesSetApplyHook(SCPreferences* prefs, SCPreferencesApplyHook hook)
{
    if (prefs) SCPreferencesAccess::SetHook(*prefs, std::move(hook));
}

void SCPreferencesSetDefaultApplyHook(SCPreferencesApplyHook hook) { gDefaultApplyHook = std::move(hook); }
