#include "OutputFile.h"

#include "HostError.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tarsk::host {

namespace fs = std::filesystem;

namespace {

// The file actually written: a symbolic link's target, so that the link survives the rename.
fs::path resolvedTarget(const std::string& path)
{
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        fs::path target = fs::weakly_canonical(path, ec);
        if (!ec) return target;
    }
    return fs::path(path);
}

fs::path folderOf(const fs::path& target)
{
    fs::path folder = target.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// Creates a new, empty file beside `target` whose name no other file has; answers its path, or
// throws naming the folder and the system's reason.
std::string createTemporaryBeside(const fs::path& target, const std::string& shownPath)
{
    const fs::path folder = folderOf(target);
    int lastError = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "." + target.filename().string() + "." + std::to_string(::getpid()) + "-" +
                           std::to_string(attempt) + ".part";
        std::string candidate = (folder / name).string();
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        lastError = errno;
        if (lastError != EEXIST) break;
    }
    throw HostError("cannot write '" + shownPath + "': cannot create a file in folder '" + folder.string() +
                    "': " + std::strerror(lastError));
}

void checkTarget(const fs::path& target, const std::string& shownPath)
{
    const fs::path folder = folderOf(target);
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw HostError("cannot write '" + shownPath + "': folder '" + folder.string() + "' does not exist");
    fs::file_status status = fs::status(target, ec);
    if (fs::is_directory(status)) throw HostError("cannot write '" + shownPath + "': it is a folder");
    if (fs::exists(status) && !fs::is_regular_file(status))
        throw HostError("cannot write '" + shownPath + "': it exists and is not a regular file");
}

}  // namespace

void checkOutputPath(const std::string& path)
{
    const fs::path target = resolvedTarget(path);
    checkTarget(target, path);
    std::string probe = createTemporaryBeside(target, path);
    std::remove(probe.c_str());
}

void replaceFile(const std::string& path, const std::function<void(const std::string& temporaryPath)>& write)
{
    const fs::path target = resolvedTarget(path);
    checkTarget(target, path);
    const std::string temporary = createTemporaryBeside(target, path);
    try {
        write(temporary);
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        int error = errno;
        std::remove(temporary.c_str());
        throw HostError("cannot write '" + path +
                        "': cannot rename the finished file into place: " + std::strerror(error));
    }
}

}  // namespace tarsk::host
