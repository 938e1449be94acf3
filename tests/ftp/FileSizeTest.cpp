#include "publish/FileSize.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnv.h"

#include "common/Error.h"
#include <filesystem>

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vela {
namespace {

using test::ChildProcess;
using test::TempDir;
using test::writeFile;

constexpr const char* kInUse = "The file is in use by another process.";

std::string refusal(const std::string& path) {
    try {
        tamanhoArquivo(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "(accepted)";
}

// Another process that holds the file the way `hold` sets up, until the holder goes.
class Holder {
public:
    template <typename Hold> Holder(const std::string& path, Hold hold) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const char ok = hold(path.c_str()) ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(release[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char ok = 'n';
        (void)!::read(ready[0], &ok, 1);
        ::close(ready[0]);
        if (ok != 'y')
            throw std::runtime_error("the holder could not take the file");
    }
    ~Holder() {
        ::close(release_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

class FileSize : public ::testing::Test {
protected:
    std::string file(const std::string& bytes) {
        writeFile(dir_ / "BANCODADOS.gdb", bytes);
        return dir_ / "BANCODADOS.gdb";
    }
    TempDir dir_;
};

TEST_F(FileSize, ReturnsTheSizeInBytes) {
    EXPECT_EQ(tamanhoArquivo(file(std::string(123457, '\0'))), 123457);
    EXPECT_EQ(tamanhoArquivo(file("")), 0);
}

TEST_F(FileSize, AMissingFileNamesItsFullPathAndTheReason) {
    const std::string missing = dir_ / "nothing.gdb";
    EXPECT_EQ(refusal(missing), "Cannot open file \"" + missing + "\". No such file or directory");
}

TEST_F(FileSize, ARelativePathIsReportedInFull) {
    const std::string expected = (std::filesystem::current_path() / "no-such-dir" / "x.gdb").string();
    EXPECT_EQ(refusal("no-such-dir/./x.gdb"), "Cannot open file \"" + expected + "\". No such file or directory");
}

TEST_F(FileSize, AFolderIsRefused) {
    EXPECT_EQ(refusal(dir_.path()), "Cannot open file \"" + dir_.path() + "\". Is a directory");
}

TEST_F(FileSize, AFileOpenForWritingElsewhereIsRefused) {
    const std::string path = file("data");
    {
        Holder writer(path, [](const char* p) { return ::open(p, O_WRONLY) >= 0; });
        EXPECT_EQ(refusal(path), "Cannot open file \"" + path + "\". " + kInUse);
    }
    EXPECT_EQ(tamanhoArquivo(path), 4);
}

TEST_F(FileSize, AFileFlockedElsewhereIsRefused) {
    const std::string path = file("data");
    Holder locker(path, [](const char* p) {
        const int fd = ::open(p, O_RDONLY);
        return fd >= 0 && ::flock(fd, LOCK_SH) == 0;
    });
    EXPECT_EQ(refusal(path), "Cannot open file \"" + path + "\". " + kInUse);
}

TEST_F(FileSize, AFileWithARecordLockElsewhereIsRefused) {
    const std::string path = file("data");
    Holder locker(path, [](const char* p) {
        const int fd = ::open(p, O_RDONLY);
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        return fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0;
    });
    EXPECT_EQ(refusal(path), "Cannot open file \"" + path + "\". " + kInUse);
}

TEST_F(FileSize, AnotherReaderDoesNotStopIt) {
    const std::string path = file("data");
    Holder reader(path, [](const char* p) { return ::open(p, O_RDONLY) >= 0; });
    EXPECT_EQ(tamanhoArquivo(path), 4);
}

// The case that matters: the mobile database while a Firebird engine has it attached.
TEST_F(FileSize, ADatabaseAttachedByFirebirdIsRefusedUntilDetached) {
    const std::string isql = VELA_TEST_ISQL;
    if (isql.empty())
        GTEST_SKIP() << "isql-fb not found";
    const std::string database = dir_ / "BANCODADOS.gdb";
    const std::filesystem::path ready = dir_ / "attached";

    ChildProcess engine({isql, "-q"});
    engine.writeInput("create database '" + database + "' user 'SYSDBA' password 'masterkey';\n" + "shell touch " +
                      ready.string() + ";\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(ready)) << "isql did not attach";

    EXPECT_EQ(refusal(database), "Cannot open file \"" + database + "\". " + kInUse);

    engine.closeInput();
    engine.wait();
    EXPECT_GT(tamanhoArquivo(database), 0);
}

} // namespace
} // namespace vela
