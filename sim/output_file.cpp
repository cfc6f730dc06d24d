#include "sim/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sim {
namespace {

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

[[noreturn]] void Refuse(const std::string& what, const std::string& why) {
    throw std::runtime_error(what + ": " + why);
}

// The folder holding path's last name ("." for a bare name).
fs::path FolderOf(const fs::path& path) {
    const fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// A name that can stand for a file of its own in its folder.
bool IsFileName(const fs::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name != "." && name != "..";
}

}  // namespace

CommandFiles::CommandFiles(const fs::path& device) {
    struct stat st;
    if (!device.empty() && stat(device.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        hasDevice_ = true;
        device_ = device;
        deviceIdentity_ = {st.st_dev, st.st_ino};
    }
}

std::vector<CommandFiles::Identity> CommandFiles::Ancestors(const fs::path& folder) {
    std::vector<Identity> identities;
    std::error_code ec;
    fs::path at = fs::canonical(folder, ec);
    if (ec)
        return identities;
    for (;;) {
        struct stat st;
        if (stat(at.c_str(), &st) == 0)
            identities.push_back({st.st_dev, st.st_ino});
        const fs::path up = at.parent_path();
        if (up == at || up.empty())
            break;
        at = up;
    }
    return identities;
}

void CommandFiles::CheckAgainstOthers(const Named& named) const {
    auto inside = [](const Named& output, const Identity& folder) {
        return std::find(output.ancestors.begin(), output.ancestors.end(), folder) !=
               output.ancestors.end();
    };
    if (named.isOutput && hasDevice_ &&
        (inside(named, deviceIdentity_) || (named.exists && named.file == deviceIdentity_)))
        Refuse(named.what, Quoted(named.path) + " lies inside the simulated printer " +
                               Quoted(device_) + ", whose files only its own commands change");
    for (const Named& other : named_) {
        if (!named.isOutput && !other.isOutput)
            continue;
        const bool sameFile = named.exists && other.exists && named.file == other.file;
        const bool sameName =
            !named.name.empty() && named.folder == other.folder && named.name == other.name;
        if (sameFile || sameName)
            Refuse(named.what, Quoted(named.path) + " is the same " +
                                   (named.isFolder ? "folder" : "file") + " as " + other.what +
                                   " " + Quoted(other.path));
        // An output inside a folder that is read.
        const Named& output = named.isOutput ? named : other;
        const Named& read = named.isOutput ? other : named;
        if (!read.isOutput && read.isFolder && inside(output, read.file))
            Refuse(named.what, Quoted(output.path) + " lies inside " + read.what + " " +
                                   Quoted(read.path) + ", which is read");
    }
}

std::string CommandFiles::DeviceFileNamed(const Identity& file) const {
    if (!hasDevice_)
        return std::string();
    std::error_code ec;
    for (fs::recursive_directory_iterator it(device_, ec), end; !ec && it != end;
         it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            Identity{st.st_dev, st.st_ino} == file)
            return it->path().lexically_relative(device_).string();
    }
    return std::string();
}

void CommandFiles::Input(const std::string& what, const fs::path& path) {
    if (path.empty())
        Refuse(what, "no file given (empty)");
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        Refuse(what, "no file " + Quoted(path) + " (" + std::strerror(errno) + ")");
    if (S_ISDIR(st.st_mode))
        Refuse(what, Quoted(path) + " is a folder, not a file");
    if (!S_ISREG(st.st_mode))
        Refuse(what, Quoted(path) + " is not a regular file");
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Refuse(what, "cannot read " + Quoted(path) + " (" + std::strerror(errno) + ")");
    close(fd);
    Named named;
    named.what = what;
    named.path = path;
    named.exists = true;
    named.file = {st.st_dev, st.st_ino};
    struct stat folder;
    if (stat(FolderOf(path).c_str(), &folder) == 0)
        named.folder = {folder.st_dev, folder.st_ino};
    named.name = path.filename().string();
    CheckAgainstOthers(named);
    named_.push_back(named);
}

void CommandFiles::InputFolder(const std::string& what, const fs::path& path) {
    if (path.empty())
        Refuse(what, "no folder given (empty)");
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        Refuse(what, "no folder " + Quoted(path) + " (" + std::strerror(errno) + ")");
    if (!S_ISDIR(st.st_mode))
        Refuse(what, Quoted(path) + " is not a folder");
    Named named;
    named.what = what;
    named.path = path;
    named.exists = true;
    named.isFolder = true;
    named.file = {st.st_dev, st.st_ino};
    CheckAgainstOthers(named);
    named_.push_back(named);
}

void CommandFiles::Output(const std::string& what, const fs::path& path) {
    if (path.empty())
        Refuse(what, "no file given (empty)");
    Named named;
    named.what = what;
    named.path = path;
    named.isOutput = true;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            Refuse(what, Quoted(path) + " is a symbolic link; name the file itself");
        if (!S_ISREG(st.st_mode))
            Refuse(what, Quoted(path) + " exists and is not a regular file");
        named.exists = true;
        named.file = {st.st_dev, st.st_ino};
        if (st.st_nlink > 1) {
            const std::string own = DeviceFileNamed(named.file);
            if (!own.empty())
                Refuse(what, Quoted(path) + " is another name of the simulated printer's " + own);
        }
    } else if (errno != ENOENT) {
        Refuse(what, "cannot use " + Quoted(path) + " (" + std::strerror(errno) + ")");
    }
    if (!IsFileName(path))
        Refuse(what, Quoted(path) + " names no file");
    const fs::path folder = FolderOf(path);
    struct stat folderStat;
    if (stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode))
        Refuse(what, "no folder " + Quoted(folder) + " for " + Quoted(path));
    named.folder = {folderStat.st_dev, folderStat.st_ino};
    named.name = path.filename().string();
    named.ancestors = Ancestors(folder);
    CheckAgainstOthers(named);
    named_.push_back(named);
}

void CommandFiles::OutputFolder(const std::string& what, const fs::path& path) {
    if (path.empty())
        Refuse(what, "no folder given (empty)");
    Named named;
    named.what = what;
    named.path = path;
    named.isOutput = true;
    named.isFolder = true;
    struct stat st;
    std::error_code ec;
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode) || !fs::is_empty(path, ec) || ec)
            Refuse(what, Quoted(path) + " exists and is not an empty folder");
        named.exists = true;
        named.file = {st.st_dev, st.st_ino};
    } else if (errno != ENOENT) {
        Refuse(what, "cannot use " + Quoted(path) + " (" + std::strerror(errno) + ")");
    }
    // The nearest folder that exists holds it, however many are still to be made.
    fs::path whole = fs::absolute(path, ec).lexically_normal();
    if (whole.filename().empty())
        whole = whole.parent_path();
    fs::path existing = whole.parent_path();
    while (!fs::is_directory(existing, ec) && existing != existing.parent_path())
        existing = existing.parent_path();
    struct stat folder;
    if (existing == whole.parent_path() && stat(existing.c_str(), &folder) == 0) {
        named.folder = {folder.st_dev, folder.st_ino};
        named.name = whole.filename().string();
    }
    named.ancestors = Ancestors(existing);
    CheckAgainstOthers(named);
    named_.push_back(named);
}

OutputFile::OutputFile(const fs::path& path) : path_(path) {
    const platform::host::UniqueFd folder(
        platform::host::OpenTrustedFolder(FolderOf(path).string()));
    const std::string name = path.filename().string();
    struct stat st;
    if (folder.Valid() && fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode)) {
        keepMode_ = true;
        mode_ = st.st_mode & 07777;
    }
    if (!folder.Valid() || !file_.Create(folder.Get(), name, 0666))
        throw std::runtime_error("cannot write " + Quoted(path) + ": " + std::strerror(errno));
}

OutputFile::~OutputFile() {
    stream_.reset();
    buffer_.reset();
}

void OutputFile::Write(const void* data, size_t size) {
    if (stream_)
        stream_->flush();
    if (!platform::host::WriteAllFd(Fd(), data, size))
        throw std::runtime_error("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
}

std::iostream& OutputFile::Stream() {
    if (!stream_) {
        const int copy = fcntl(Fd(), F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            throw std::runtime_error("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
        buffer_.reset(new platform::host::FdFileBuffer(copy, true, true));
        stream_.reset(new std::iostream(buffer_.get()));
    }
    return *stream_;
}

void OutputFile::Commit() {
    if (stream_) {
        // Reading to the end (for a digest) sets the stream's fail bit; a
        // failed write shows in the buffer.
        stream_->clear();
        stream_->flush();
        const bool written = !stream_->bad() && buffer_->Close() && !buffer_->Failed();
        stream_.reset();
        buffer_.reset();
        if (!written)
            throw std::runtime_error("cannot write " + Quoted(path_));
    }
    if ((keepMode_ && fchmod(Fd(), mode_) != 0) || !file_.Commit())
        throw std::runtime_error("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
}

void WriteOutputFile(const fs::path& path, const std::string& bytes) {
    OutputFile file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

void WriteOutputFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    OutputFile file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

}  // namespace sim
