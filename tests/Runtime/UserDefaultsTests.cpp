// The user-defaults file: blobs byte for byte, atomic saves, corrupt files kept,
// and the bounded reads of every file Vantrel reads.
#include "Runtime/AtomicFile.h"
#include "Runtime/FileRead.h"
#include "Runtime/Log.h"
#include "Runtime/Paths.h"
#include "Runtime/UserDefaults.h"
#include "Support/ChildProcess.h"
#include "Support/EnvironmentVariable.h"
#include "Support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

class FileUserDefaultsTest : public ::testing::Test {
protected:
    const test::ScratchFolder scratch;
    const std::filesystem::path& folder = scratch.path;
    const std::filesystem::path file = folder / "vantrel" / "defaults.json";
};

TEST_F(FileUserDefaultsTest, ValuesAndBlobsSurviveAReload)
{
    std::string binary("\x00\xff\xfe{\"x", 5);
    std::string settings = "{\"showDelayMilliseconds\": 0, \"name\": \"⌘Tab — all\"}";
    {
        FileUserDefaults defaults(file);
        EXPECT_FALSE(defaults.data("settings"));
        defaults.setData("settings", settings);
        defaults.setData("blob", binary);
        defaults.setObject("symbolicHotKeysOriginalState", {{"1", true}});
        defaults.setData("empty", "");
    }
    FileUserDefaults reloaded(file);
    EXPECT_EQ(reloaded.data("settings"), settings);
    EXPECT_EQ(reloaded.data("blob"), binary);
    EXPECT_EQ(reloaded.data("empty"), std::string());
    EXPECT_EQ(reloaded.object("symbolicHotKeysOriginalState"), (nlohmann::json{{"1", true}}));
    EXPECT_FALSE(reloaded.data("symbolicHotKeysOriginalState")); // an object is not a blob
    reloaded.remove("blob");
    EXPECT_FALSE(FileUserDefaults(file).data("blob"));
    // Readable text stays readable in the file.
    EXPECT_NE(readRegularFile(file).bytes.value_or("").find("showDelayMilliseconds"), std::string::npos);
}

TEST_F(FileUserDefaultsTest, FileAndFolderAreTheOwnersOnly)
{
    FileUserDefaults(file).setData("settings", "x");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(file.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(FileUserDefaultsTest, ReloadTakesInAnotherWriterButNotACorruptFile)
{
    FileUserDefaults ours(file);
    ours.setData("settings", "ours");
    FileUserDefaults(file).setData("settings", "theirs");
    EXPECT_EQ(ours.data("settings"), "ours");
    ours.reload();
    EXPECT_EQ(ours.data("settings"), "theirs");

    ASSERT_FALSE(writeFileAtomically(file, "{ torn"));
    ours.reload();
    EXPECT_EQ(ours.data("settings"), "theirs");
    ours.setData("other", "x"); // the corrupt file is kept aside, not overwritten
    EXPECT_TRUE(ours.quarantinedFile());

    std::filesystem::remove(file);
    ours.reload();
    EXPECT_FALSE(ours.data("settings"));
}

TEST_F(FileUserDefaultsTest, SaveInterruptedBeforeRenameLeavesTheOldFile)
{
    FileUserDefaults defaults(file);
    defaults.setObject("version", 1);
    auto before = readRegularFile(file).bytes;
    {
        const test::InterruptedSaves interrupted;
        defaults.setObject("version", 2);
    }
    EXPECT_FALSE(defaults.lastError().empty());
    EXPECT_EQ(readRegularFile(file).bytes, before);
}

TEST_F(FileUserDefaultsTest, CorruptFileReadsEmptyAndIsKeptAsideBeforeReplacement)
{
    for (std::string corrupt : {"{\"settings\": \"trunc", "[1, 2]", ""}) {
        std::filesystem::remove_all(file.parent_path());
        ASSERT_FALSE(writeFileAtomically(file, corrupt));
        FileUserDefaults defaults(file);
        EXPECT_FALSE(defaults.object("settings"));
        EXPECT_FALSE(defaults.lastError().empty());
        // Reading alone changes nothing on disk.
        EXPECT_EQ(readRegularFile(file).bytes, corrupt);
        defaults.setObject("k", 2);
        EXPECT_EQ(readRegularFile(defaults.quarantinedFile().value_or("")).bytes, corrupt) << "kept aside";
        EXPECT_EQ(FileUserDefaults(file).object("k"), nlohmann::json(2));
    }
}

TEST_F(FileUserDefaultsTest, AtomicWriteCreatesFoldersAndLeavesNoTemporaries)
{
    auto deep = folder / "a" / "b" / "learned.json";
    EXPECT_FALSE(writeFileAtomically(deep, "one"));
    EXPECT_FALSE(writeFileAtomically(deep, "two"));
    EXPECT_EQ(readRegularFile(deep).bytes, "two");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(deep.parent_path()), {}), 1) << "no temporaries";

    // What a writer killed mid-write left goes with the next write; another
    // file's temporaries stay.
    const pid_t gone = test::deadPid();
    const std::string stale = ".learned.json.tmp-" + std::to_string(gone) + "-1f";
    const std::string others = ".other.json.tmp-" + std::to_string(gone) + "-1f";
    std::ofstream(deep.parent_path() / stale) << "torn";
    std::ofstream(deep.parent_path() / others) << "torn";
    EXPECT_FALSE(writeFileAtomically(deep, "three"));
    EXPECT_FALSE(std::filesystem::exists(deep.parent_path() / stale));
    EXPECT_TRUE(std::filesystem::exists(deep.parent_path() / others));
    // A folder where the file should be, or a file where its folder should
    // be, is an error, not a crash.
    std::filesystem::create_directories(folder / "dir.json");
    EXPECT_TRUE(writeFileAtomically(folder / "dir.json", "x"));
    EXPECT_TRUE(writeFileAtomically(deep / "below.json", "x"));
}

TEST_F(FileUserDefaultsTest, FilesAreReadWholeUpToTheLimit)
{
    const auto text = folder / "text";
    ASSERT_FALSE(writeFileAtomically(text, std::string(4097, 'x')));
    EXPECT_EQ(readRegularFile(text, 4097).bytes, std::string(4097, 'x'));
    EXPECT_EQ(readRegularFile(text, 4096).error, "larger than 4096 bytes");
    ASSERT_EQ(::truncate(text.c_str(), static_cast<off_t>(maxFileBytes) + 1), 0); // refused by its size alone
    EXPECT_EQ(readRegularFile(text).error, "larger than 16 MiB");
    EXPECT_EQ(readRegularFile(folder).error, "not a regular file");
    EXPECT_TRUE(readRegularFile(folder / "none").missing);
}

TEST_F(FileUserDefaultsTest, AFifoIsNotWaitedFor)
{
    std::filesystem::create_directories(file.parent_path());
    // A FIFO reads as an unreadable file; a load still blocked after five
    // seconds fails and is let go by a writer.
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    LogCapture log;
    auto loading = std::async(std::launch::async, [&] { return std::make_unique<FileUserDefaults>(file); });
    if (loading.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        ADD_FAILURE() << "loading the defaults blocks";
        ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK));
    }
    auto defaults = loading.get();
    EXPECT_EQ(defaults->lastError(), "cannot read " + file.string() + ": not a regular file");
    EXPECT_TRUE(log.contains("Cannot read user defaults " + file.string() + " (not a regular file); starting empty"));
    defaults->setObject("k", 1);
    EXPECT_TRUE(defaults->quarantinedFile());
    EXPECT_EQ(FileUserDefaults(file).object("k"), nlohmann::json(1));
}

TEST(Paths, FollowXdgVariablesAndIgnoreRelativeOnes)
{
    const test::EnvironmentVariable config("XDG_CONFIG_HOME", "/tmp/cfg"), data("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(Paths::defaultsFile(), std::filesystem::path("/tmp/cfg/vantrel/defaults.json"));
    EXPECT_EQ(Paths::dataHome(), Paths::home() / ".local" / "share");
}

} // namespace
} // namespace vantrel
