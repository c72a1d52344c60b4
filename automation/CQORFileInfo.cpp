#include "automation/CQORFileInfo.h"

#include "automation/ReportError.h"

#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace qor {
namespace {

// A new copy for the caller. A path that cannot be copied is a failure, not an
// empty path: a script must not mistake it for a file without a name.
HRESULT CopyString(BSTR stored, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!stored) return S_OK;
    *out = SysAllocStringByteLen(reinterpret_cast<const char*>(stored), SysStringByteLen(stored));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// SaveAs and MoveTo report their failures alike, each with its own verb.
// The out-of-memory text is said without allocating, so it can be said when
// memory has run out; a failed method that leaves the thread's error
// information alone would let an earlier failure's description reach the
// script.
struct FileAction {
    const wchar_t* verb;
    const wchar_t* outOfMemory;
};
constexpr FileAction kSave{L"save", L"Can't save the uploaded file: out of memory"};
constexpr FileAction kMove{L"move", L"Can't move the uploaded file: out of memory"};

HRESULT OutOfMemory(const FileAction& action) noexcept {
    return ReportErrorW(action.outOfMemory, E_OUTOFMEMORY, GUID_NULL);
}

std::wstring_view View(BSTR text) noexcept { return text ? std::wstring_view(text, SysStringLen(text)) : L""; }

// The system's text for an error code, without its line break.
std::wstring SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : L"system error " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

// Reports a failed step of SaveAs or MoveTo: what failed, for which path,
// the platform's code and text, and where the file is when it is neither
// where it was nor at path.
HRESULT StepFailure(const FileAction& action, std::wstring_view path, DWORD error,
                    const wchar_t* nowAt = nullptr) noexcept {
    try {
        std::wstring description = std::wstring(L"Can't ") + action.verb + L" the uploaded file to " +
                                   std::wstring(path) + L": " + SystemMessage(error);
        if (nowAt) description += L"; the file is now at " + std::wstring(nowAt);
        return ReportErrorW(description.c_str(), HRESULT_FROM_WIN32(error), GUID_NULL);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(action);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// SaveAs or MoveTo of a file that MoveTo has taken away.
HRESULT AlreadyMoved(const FileAction& action, const wchar_t* movedTo) noexcept {
    try {
        const std::wstring description =
            std::wstring(L"Can't ") + action.verb + L" the uploaded file: it was moved to " + movedTo;
        return ReportErrorW(description.c_str(), QOR_E_FILE_MOVED, GUID_NULL);
    } catch (const std::bad_alloc&) {
        return ReportErrorW(L"Can't use the uploaded file: it was moved", QOR_E_FILE_MOVED, GUID_NULL);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The full path of path, or path itself where the system cannot say.
std::wstring FullPathOf(const std::wstring& path) {
    wchar_t full[MAX_PATH + 1];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, nullptr);
    return length && length <= MAX_PATH ? std::wstring(full, length) : path;
}

// The directory part of path, for a temporary name beside the destination.
std::wstring DirectoryOf(std::wstring_view path) {
    const size_t separator = path.find_last_of(L"\\/");
    const bool drive = path.size() >= 2 && path[1] == L':';
    if (separator == std::wstring_view::npos) return drive ? std::wstring(path.substr(0, 2)) : L".";
    // The root keeps its separator: "C:\" and "\" are directories, "C:" is not the root.
    const bool root = separator == 0 || (drive && separator == 2);
    return std::wstring(path.substr(0, root ? separator + 1 : separator));
}

}  // namespace

std::wstring_view BareFileName(std::wstring_view path) noexcept {
    const size_t separator = path.find_last_of(L"\\/:");
    const std::wstring_view name = separator == std::wstring_view::npos ? path : path.substr(separator + 1);
    return name == L"." || name == L".." ? std::wstring_view() : name;
}

ComPtr<CQORFileInfo> CQORFileInfo::Create(UniqueBstr userPath, UniqueBstr tmpPath, LONG size, UniqueBstr contentType,
                                          std::weak_ptr<const void> filesLife,
                                          std::shared_ptr<StoredFileKeeping> keeping) {
    return ComPtr<CQORFileInfo>(new CQORFileInfo(std::move(userPath), std::move(tmpPath), size,
                                                 std::move(contentType), std::move(filesLife), std::move(keeping)));
}

HRESULT CQORFileInfo::QueryInterface(REFIID iid, void** out) {
    return QueryDual(iid, out, {IID_IQORFileInfo, IID_IQORFileInfo2});
}

HRESULT CQORFileInfo::get_UserPath(BSTR* pVal) { return CopyString(userPath_.get(), pVal); }

// Once MoveTo has moved the file, where it went.
HRESULT CQORFileInfo::get_TmpPath(BSTR* pVal) {
    if (const wchar_t* moved = MovedTo()) {
        if (!pVal) return E_POINTER;
        *pVal = SysAllocString(moved);
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
    return CopyString(tmpPath_.get(), pVal);
}

HRESULT CQORFileInfo::get_Size(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = size_;
    return S_OK;
}

HRESULT CQORFileInfo::get_FileName(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    const std::wstring_view name = BareFileName(View(userPath_.get()));
    *pVal = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT CQORFileInfo::get_ContentType(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    if (!contentType_.get()) {
        *pVal = SysAllocString(L"");
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
    return CopyString(contentType_.get(), pVal);
}

// The copy is written beside the destination under a fresh temporary name and
// renamed into place, so a failed or interrupted save never leaves a partial
// file at path; without overwrite the rename itself refuses an existing file.
HRESULT CQORFileInfo::SaveAs(BSTR path, VARIANT_BOOL overwrite) {
    const std::wstring_view destination = View(path);
    if (const wchar_t* moved = MovedTo()) return AlreadyMoved(kSave, moved);
    if (filesLife_.expired())
        return ReportErrorW(L"Can't save the uploaded file: the upload object that stored it is gone",
                           QOR_E_UPLOAD_GONE, GUID_NULL);
    if (destination.empty()) return ReportErrorW(L"Can't save the uploaded file: no path given", E_INVALIDARG, GUID_NULL);
    try {
        const std::wstring target(destination);
        wchar_t beside[MAX_PATH + 1] = {};
        if (!GetTempFileNameW(DirectoryOf(destination).c_str(), L"qor", 0, beside))
            return StepFailure(kSave, destination, GetLastError());
        if (!CopyFileW(tmpPath_.get() ? tmpPath_.get() : L"", beside, FALSE) ||
            !MoveFileExW(beside, target.c_str(), overwrite ? MOVEFILE_REPLACE_EXISTING : 0)) {
            const DWORD error = GetLastError();
            DeleteFileW(beside);
            return StepFailure(kSave, destination, error);
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return OutOfMemory(kSave);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The file goes to a fresh temporary name beside the destination first (a
// copy where the two lie on different volumes), then is renamed into place,
// so a failure never leaves a partial file at path; without overwrite the
// rename refuses an existing file. When that rename fails, the file goes
// back where it was and stays the upload object's. Once moved, it is the
// page's: the upload object no longer deletes it.
HRESULT CQORFileInfo::MoveTo(BSTR path, VARIANT_BOOL overwrite) {
    const std::wstring_view destination = View(path);
    if (const wchar_t* moved = MovedTo()) return AlreadyMoved(kMove, moved);
    if (filesLife_.expired() || !keeping_)
        return ReportErrorW(L"Can't move the uploaded file: the upload object that stored it is gone",
                           QOR_E_UPLOAD_GONE, GUID_NULL);
    if (destination.empty()) return ReportErrorW(L"Can't move the uploaded file: no path given", E_INVALIDARG, GUID_NULL);
    try {
        const std::wstring target(destination);
        std::wstring movedTo = FullPathOf(target);  // made before anything moves
        const wchar_t* source = tmpPath_.get() ? tmpPath_.get() : L"";
        wchar_t beside[MAX_PATH + 1] = {};
        if (!GetTempFileNameW(DirectoryOf(destination).c_str(), L"qor", 0, beside))
            return StepFailure(kMove, destination, GetLastError());
        if (!MoveFileExW(source, beside, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            const DWORD error = GetLastError();
            DeleteFileW(beside);
            return StepFailure(kMove, destination, error);
        }
        const DWORD placed = MoveFileExW(beside, target.c_str(), overwrite ? MOVEFILE_REPLACE_EXISTING : 0)
                                 ? ERROR_SUCCESS
                                 : GetLastError();
        if (placed != ERROR_SUCCESS) {
            if (MoveFileExW(beside, source, MOVEFILE_COPY_ALLOWED)) return StepFailure(kMove, destination, placed);
            movedTo = beside;  // it can go neither on nor back: it stays there, and the page is told
        }
        if (keeping_->handOver) std::exchange(keeping_->handOver, nullptr)();
        keeping_->movedTo = std::move(movedTo);
        return placed == ERROR_SUCCESS ? S_OK : StepFailure(kMove, destination, placed, keeping_->movedTo.c_str());
    } catch (const std::bad_alloc&) {
        return OutOfMemory(kMove);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace qor
