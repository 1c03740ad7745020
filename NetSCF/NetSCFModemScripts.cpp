#include "NetSCF/NetSCFModemScripts.h"

#include "NetSCF/NetSCFAccess.h"
#include "NetSCF/NetSCFValue.h"
#include "platform/paths/KPaths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBatchSize = 50;
constexpr size_t kNameSize = 256; // a file name is at most 255 bytes


int FoldedByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

int NetSCCompareCCLNames(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && IsDigit(a[ie])) ++ie;
            while (je < b.size() && IsDigit(b[je])) ++je;
            size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0') ++is;
            while (js + 1 < je && b[js] == '0') ++js;
            if (ie - is != je - js) return (ie - is) < (je - js) ? -1 : 1;
            if (int c = a.compare(is, ie - is, b, js, je - js)) return c < 0 ? -1 : 1;
            i = ie;
            j = je;
            continue;
        }
        const int ca = FoldedByte(static_cast<unsigned char>(a[i]));
        const int cb = FoldedByte(static_cast<unsigned char>(b[j]));
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

OSStatus AddCCLsInFolderToArray(const std::string& folder, PArray& array)
{
    // One buffer of 50 names per folder, reused for every batch.
    std::unique_ptr<char[]> names(new (std::nothrow) char[kBatchSize * kNameSize]);
    if (!names) return kStatusNoMemory;

    DIR* dir = opendir(folder.c_str());
    if (!dir) return StatusFromErrno(errno);
    const int dirFd = dirfd(dir);

    OSStatus err = kStatusOK;
    bool more = true;
    while (err == kStatusOK && more) {
        size_t count = 0;
        errno = 0;
        while (count < kBatchSize) {
            dirent* e = readdir(dir);
            if (!e) {
                if (errno != 0) err = StatusFromErrno(errno);
                more = false;
                break;
            }
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            std::snprintf(names.get() + count * kNameSize, kNameSize, "%s", e->d_name);
            ++count;
        }
        for (size_t k = 0; err == kStatusOK && k < count; ++k) {
            const char* name = names.get() + k * kNameSize;
            if (name[0] == '.') continue; // invisible
            struct stat st {};
            if (fstatat(dirFd, name, &st, 0) != 0) {
                // A link to nothing is simply not a plain file.
                if (errno == ENOENT || errno == ELOOP) continue;
                err = StatusFromErrno(errno);
                break;
            }
            if (!S_ISREG(st.st_mode)) continue;
            auto s = PStr(name);
            // A name that is not UTF-8 cannot be a script anyone names; it is left out rather
            // than failing the whole list.
            if (!s) continue;
            if (!array.Append(s)) err = kStatusValueNotMade;
        }
    }
    const int junk = closedir(dir);
    NetSCAssert(junk == 0);
    (void)junk;
    return err;
}

OSStatus NetSCCreateCCLArray(PRef<PArray>& result, long* indexOfDefaultCCL)
{
    NetSCAssert(result.empty());
    result = nullptr;
    PRef<PArray> array;
    OSStatus err = CFXArrayCreateMutable(array);
    if (err == kStatusOK) {
        for (const std::string& folder : KPaths::ModemScriptFolders()) {
            if (folder.empty()) continue;
            struct stat st {};
            if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue; // domain has none
            err = AddCCLsInFolderToArray(folder, *array);
            if (err != kStatusOK) break;
        }
    }
    if (err == kStatusOK) {
        std::vector<std::string> names;
        names.reserve(array->Count());
        for (size_t i = 0; i < array->Count(); ++i) names.push_back(array->AtAs<PString>(i)->UTF8());
        // Ties under the list's order are broken exactly, so equal names end up side by side.
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            const int c = NetSCCompareCCLNames(a, b);
            return c != 0 ? c < 0 : a < b;
        });
        names.erase(std::unique(names.begin(), names.end()), names.end());
        array->RemoveAll();
        for (const auto& n : names) array->Append(PStr(n));

        if (indexOfDefaultCCL) {
            const std::string def = kNetSCDefaultCCLName;
            auto it = std::lower_bound(names.begin(), names.end(), def, [](const std::string& a, const std::string& b) {
                return NetSCCompareCCLNames(a, b) < 0;
            });
            *indexOfDefaultCCL =
                (it != names.end() && NetSCCompareCCLNames(*it, def) == 0) ? static_cast<long>(it - names.begin()) : 0;
        }
        result = array;
    }
    NetSCAssert((err == kStatusOK) == !result.empty());
    NetSCAssert(err != kStatusOK || !indexOfDefaultCCL || result->Count() == 0 ||
               (*indexOfDefaultCCL >= 0 && *indexOfDefaultCCL < static_cast<long>(result->Count())));
    return err;
}
