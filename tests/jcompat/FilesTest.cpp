#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jcompat/BufferedReader.h"
#include "jcompat/Clock.h"
#include "jcompat/Exceptions.h"
#include "jcompat/File.h"
#include "jcompat/InputStream.h"
#include "jcompat/JString.h"
#include "jcompat/RandomAccessFile.h"
#include "testsupport/TestPlatform.h"

using namespace ferrow::jcompat;
namespace fs = std::filesystem;

namespace {

class FilesTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "jcompat-files-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    File write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return File(path.string());
    }

    std::vector<std::string> lines(const std::string& bytes) {
        BufferedReader reader{FileReader(write("lines.txt", bytes))};
        std::vector<std::string> result;
        while (auto line = reader.readLine()) result.push_back(*line);
        EXPECT_FALSE(reader.readLine().has_value());
        reader.close();
        return result;
    }

    fs::path dir_;
};

} // namespace

TEST(FilePaths, ParentAndName) {
    const File dir("dir///");
    EXPECT_EQ(File(&dir, "x").getPath(), "dir/x");
    const File root("/");
    EXPECT_EQ(File(&root, "x").getPath(), "/x");
    EXPECT_EQ(File(nullptr, "x").getPath(), "x");
    EXPECT_EQ(File("a/b/").getName(), "b");
    EXPECT_EQ(File("name").getName(), "name");
    EXPECT_EQ(File("/").getName(), "");
    EXPECT_EQ(File("./a/../b").getPath(), "./a/../b");
}

TEST(FilePaths, ParentDirectory) {
    EXPECT_EQ(File(".").getParent(), std::nullopt);
    EXPECT_EQ(File("/").getParent(), std::nullopt);
    EXPECT_EQ(File("\\").getParent(), std::nullopt);
    EXPECT_EQ(File("a/..").getParent(), std::nullopt);
    EXPECT_EQ(File("car.vpf").getParent(), ".");
    EXPECT_EQ(File("/car.vpf").getParent(), "/");
    EXPECT_EQ(File("profiles/car.vpf").getParent(), "profiles");
    EXPECT_EQ(File("/a/b/c").getParent(), "/a/b");
}

TEST(FilePaths, EqualityAndHash) {
    EXPECT_TRUE(File("a/b").equals(File("a/b")));
    EXPECT_FALSE(File("a/b") == File("a//b"));
    EXPECT_EQ(File("ab").hashCode(), 97 * 31 + 98);
    EXPECT_EQ(File("ab").toString(), "ab");
}

TEST_F(FilesTest, ExistsDirectoryAndModificationTime) {
    const File file = write("f.txt", "x");
    EXPECT_TRUE(file.exists());
    EXPECT_FALSE(file.isDirectory());
    EXPECT_GT(file.lastModified(), 1500000000000);
    EXPECT_TRUE(File(dir_.string()).isDirectory());
    EXPECT_FALSE(File((dir_ / "missing").string()).exists());
    EXPECT_FALSE(File((dir_ / "f.txt/below").string()).exists());

    const fs::path link = dir_ / "dangling";
    fs::create_symlink(dir_ / "nowhere", link);
    EXPECT_TRUE(File(link.string()).exists());
    EXPECT_FALSE(File(link.string()).isDirectory());
    EXPECT_EQ(File(link.string()).lastModified(), 0);
}

// Milliseconds of the modification time, the nanoseconds cut off; before 1970
// the second is rounded down and the milliseconds within it added.
TEST_F(FilesTest, ModificationTimeInMilliseconds) {
    const File file = write("t.txt", "x");
    const auto setTime = [&](std::int64_t seconds, long nanoseconds) {
        const timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                   {static_cast<time_t>(seconds), nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.getPath().c_str(), times, 0), 0);
    };
    setTime(1600000000, 123999999);
    EXPECT_EQ(file.lastModified(), 1600000000123);
    setTime(4102444800, 5000000); // 2100-01-01, beyond 32-bit seconds
    EXPECT_EQ(file.lastModified(), 4102444800005);
    setTime(-2, 500000000);
    EXPECT_EQ(file.lastModified(), -1500);
}

TEST_F(FilesTest, RandomAccessReads) {
    RandomAccessFile file(write("r.bin", "0123456789"));
    EXPECT_EQ(file.length(), 10);
    std::array<std::uint8_t, 10> buffer{};
    file.seek(3);
    file.readFully(buffer, 0, 4);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 4), "3456");
    EXPECT_EQ(file.getFilePointer(), 7);

    buffer.fill('.');
    file.seek(6);
    try {
        file.readFully(buffer, 0, 10);
        FAIL() << "expected EOF";
    } catch (const EOFException& e) {
        EXPECT_EQ(e.getMessage(), "EOF");
    }
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "6789......");
    EXPECT_EQ(file.getFilePointer(), 10);

    file.close();
    file.close();
    file.readFully(buffer, 0, 0);
    try {
        file.readFully(buffer, 0, 1);
        FAIL() << "expected closed";
    } catch (const IllegalStateException& e) {
        EXPECT_EQ(e.getMessage(), "closed");
    }
    EXPECT_THROW(file.length(), IllegalStateException);
}

TEST_F(FilesTest, OpeningMissingFilesFails) {
    const File missing((dir_ / "missing.rd5").string());
    EXPECT_THROW(RandomAccessFile{missing}, FileNotFoundException);
    EXPECT_THROW(FileInputStream{missing}, IOException);
    EXPECT_THROW(FileReader{missing}, IOException);
    EXPECT_THROW(FileReader{File(dir_.string())}, IOException);
}

// Should opening a FIFO wait for a writer after all, writers come after a
// few seconds and end each wait: the test fails then instead of hanging.
class FifoWatchdog {
public:
    explicit FifoWatchdog(std::string fifo)
        : thread_([done = done_.get_future(), fifo = std::move(fifo)] {
              if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return;
              do {
                  const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                  if (fd >= 0) ::close(fd);
              } while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready);
          }) {}
    ~FifoWatchdog() {
        done_.set_value();
        thread_.join();
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

private:
    std::promise<void> done_;
    std::thread thread_;
};

// What opening a file raises, as "<type>: <message>".
template <typename Open>
std::string openingFailure(Open open) {
    try {
        open();
    } catch (const IOException& e) {
        return std::string(e.typeName()) + ": " + e.getMessage();
    }
    return "<opened>";
}

TEST_F(FilesTest, OnlyRegularFilesOpen) {
    // A FIFO would keep the opening or the reading waiting for a writer.
    const File fifo((dir_ / "E5_N45.rd5").string());
    ferrow::testsupport::makeFifo(fifo.getPath());
    const FifoWatchdog watchdog(fifo.getPath());
    const std::string notRegular = "IOException: " + fifo.getPath() + " (Not a regular file)";
    EXPECT_EQ(openingFailure([&] { RandomAccessFile{fifo}; }), notRegular);
    EXPECT_EQ(openingFailure([&] { FileInputStream{fifo}; }), notRegular);
    EXPECT_EQ(openingFailure([&] { FileReader{fifo}; }), notRegular);
    // A directory is no file to read either.
    const File dir(dir_.string());
    EXPECT_EQ(openingFailure([&] { RandomAccessFile{dir}; }),
              "FileNotFoundException: " + dir.getPath() + " (Is a directory)");
    // A symbolic link to a regular file opens that file.
    const File target = write("target.bin", "\x01\x02");
    fs::create_symlink(target.getPath(), dir_ / "link.bin");
    RandomAccessFile linked(File((dir_ / "link.bin").string()));
    EXPECT_EQ(linked.length(), 2);
    std::array<std::uint8_t, 2> bytes{};
    linked.readFully(bytes);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 2>{1, 2}));
}

TEST_F(FilesTest, DataStreamTypedReads) {
    const std::string bytes = std::string("\xFF\xFE", 2) + std::string("\x12\x34\x56\x78", 4) +
                              std::string("\x80\x00\x00\x00\x00\x00\x00\x01", 8) +
                              std::string("\x40\x09\x21\xFB\x54\x44\x2D\x18", 8) + "\x85" + "abc" +
                              std::string("\x00\x01\x02", 3);
    DataInputStream in(BufferedInputStream(FileInputStream(write("d.bin", bytes))));
    EXPECT_EQ(in.readShort(), -2);
    EXPECT_EQ(in.readInt(), 0x12345678);
    EXPECT_EQ(in.readLong(), std::numeric_limits<std::int64_t>::min() + 1);
    EXPECT_EQ(in.readDouble(), 3.141592653589793);
    EXPECT_EQ(in.readByte(), -123);
    std::array<std::uint8_t, 3> text{};
    in.readFully(text);
    EXPECT_EQ(std::string(text.begin(), text.end()), "abc");
    // Three bytes left: an int fails without consuming them.
    EXPECT_THROW(in.readInt(), EOFException);
    EXPECT_EQ(in.readShort(), 1);
    EXPECT_EQ(in.readByte(), 2);
    EXPECT_THROW(in.readByte(), EOFException);
    in.close();
    EXPECT_THROW(in.readByte(), IOException);
}

TEST_F(FilesTest, LongReadsCrossTheBuffer) {
    std::string bytes;
    for (int i = 0; i < 50000; ++i) bytes += std::string("\x00\x01\x02\x03", 4);
    DataInputStream in(FileInputStream(write("big.bin", bytes)));
    for (int i = 0; i < 50000; ++i) ASSERT_EQ(in.readInt(), 0x00010203);
    EXPECT_THROW(in.readByte(), EOFException);
}

TEST_F(FilesTest, LineEndings) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(lines("a\r\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(lines("a\n"), (Lines{"a"}));
    EXPECT_EQ(lines(""), Lines{});
    EXPECT_EQ(lines("a\rb\n"), (Lines{"a\rb"}));
    EXPECT_EQ(lines("a\r"), (Lines{"a\r"}));
    EXPECT_EQ(lines("\n\nx"), (Lines{"", "", "x"}));
    EXPECT_EQ(lines("\xC3\xA4\xFF!\n"), (Lines{"\xC3\xA4\xEF\xBF\xBD!"}));
    std::string longLine(200000, 'q');
    EXPECT_EQ(lines(longLine + "\r\nend"), (Lines{longLine, "end"}));
}

TEST(FileVersions, AVersionSettlesASecondAfterItsLastChange) {
    const FileVersion version{1, 2, 3, 4'000'000'000, 5'000'000'000};
    EXPECT_FALSE(version.settled(5'000));
    EXPECT_FALSE(version.settled(6'000));
    EXPECT_TRUE(version.settled(6'001));
}

TEST_F(FilesTest, AFileJustWrittenHasNotSettled) {
    const std::int64_t before = currentTimeMillis();
    const RandomAccessFile file(write("version.bin", "abc"));
    const FileVersion version = file.version();
    EXPECT_EQ(version.size, 3);
    EXPECT_EQ(file.version(), version);
    // Changed at about `before` (a coarse file clock may lag a little).
    EXPECT_FALSE(version.settled(before + 900));
}

TEST(Clock, MillisecondsSaturate) {
    EXPECT_EQ(millisFromClockReading(1, 999999999), 1999);
    EXPECT_EQ(millisFromClockReading(-2, 500000000), -1500);
    EXPECT_EQ(millisFromClockReading(std::numeric_limits<std::int64_t>::max() / 1000 + 1, 0),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(millisFromClockReading(std::numeric_limits<std::int64_t>::min() / 1000 - 1, 0),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(millisFromClockReading(std::numeric_limits<std::int64_t>::max() / 1000, 999999999),
              std::numeric_limits<std::int64_t>::max());
    const std::int64_t now = currentTimeMillis();
    EXPECT_GT(now, 1700000000000);
}
