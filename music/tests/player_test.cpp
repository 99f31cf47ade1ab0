// PlayModule and StopModule over the POSIX capture device, which plays the ring in real time
// into a file: the same thread loop and stop sequence as on Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "music/engine.h"
#include "music/tests/xm_builder.h"
#include "music/trackfile.h"
#include "music/xmplayer.h"
#include "platform/wave_out.h"

using namespace std::chrono_literals;

using namespace music;

namespace {

std::filesystem::path TempFile(const char* name) {
    return std::filesystem::temp_directory_path() /
           (std::string("music_player_test_") + std::to_string(::getpid()) + "_" + name);
}

std::vector<char> ReadAll(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The first blocks of the module as the engine renders them, looping like the player.
std::vector<char> Render(const void* data, std::uint32_t size, int blocks) {
    xmtest::Loaded l(std::vector<std::uint8_t>(static_cast<const std::uint8_t*>(data),
                                               static_cast<const std::uint8_t*>(data) + size));
    EXPECT_TRUE(l.ok);
    std::vector<char> out(static_cast<std::size_t>(blocks) * music::kBlockBytes);
    for (int b = 0; b < blocks; ++b) {
        EXPECT_TRUE(music::RenderBlock(*l.engine, reinterpret_cast<std::int16_t*>(out.data()) +
                                                      b * music::kBlockFrames * 2));
    }
    return out;
}

// One row at speed 1: ends long before the 16 blocks of the first fill.
std::vector<std::uint8_t> ShortModule(int rows) {
    xmtest::Module m;
    m.tempo = 1;
    m.instruments.push_back(xmtest::ConstantInstrument());
    m.AddPattern(static_cast<std::uint16_t>(rows));
    m.At(0, 0, 0) = {49, 1, 0, 0, 0};
    return xmtest::Write(m);
}

class Player : public testing::Test {
protected:
    void TearDown() override {
        StopModule();
        platform::SetWaveOutCaptureFile(nullptr);
        for (const auto& p : files_)
            std::filesystem::remove(p);
    }
    std::filesystem::path Capture(const char* name) {
        auto p = TempFile(name);
        files_.push_back(p);
        platform::SetWaveOutCaptureFile(p.c_str());
        return p;
    }
    std::vector<std::filesystem::path> files_;
};

} // namespace

TEST_F(Player, WithoutDeviceReturnsNullAndStaysIdle) {
    platform::SetWaveOutCaptureFile("");
    EXPECT_EQ(PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory), nullptr);
    EXPECT_FALSE(music::ModulePlaying());
    StopModule(); // idle: nothing to do
    StopModule();
    EXPECT_FALSE(music::ModulePlaying());
}

TEST_F(Player, PlaysTheRingAsTheEngineRendersIt) {
    const auto path = Capture("play.raw");
    void* handle = PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(music::ModulePlaying());
    std::this_thread::sleep_for(700ms); // about 33 blocks: the ring has turned twice
    StopModule();
    EXPECT_FALSE(music::ModulePlaying());
    const std::vector<char> captured = ReadAll(path);
    ASSERT_GE(captured.size(), 16u * music::kBlockBytes);
    const int blocks = static_cast<int>(captured.size() / music::kBlockBytes);
    const std::vector<char> expected = Render(music::kTrackFile, music::kTrackFileSize, blocks);
    EXPECT_TRUE(
        std::equal(expected.begin(), expected.begin() + 16 * music::kBlockBytes, captured.begin()));
    // Later blocks too: the thread refilled each block in time.
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + blocks * music::kBlockBytes,
                           captured.begin()))
        << blocks << " blocks captured";
}

TEST_F(Player, SecondPlayEndsTheFirstCompletely) {
    const auto first = Capture("first.raw");
    ASSERT_NE(PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory), nullptr);
    std::this_thread::sleep_for(100ms);
    // The capture device exists once: the second play opens it only if the first closed it.
    Capture("second.raw");
    const std::vector<std::uint8_t> other = ShortModule(64);
    ASSERT_NE(PlayModule(other.data(), other.size(), SourceMemory), nullptr);
    EXPECT_EQ(music::PlaybackThreadsAlive(), 1);
    const std::size_t firstSize = std::filesystem::file_size(first);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(std::filesystem::file_size(first), firstSize); // nothing writes it any more
    // A null source stops and returns null.
    EXPECT_EQ(PlayModule(nullptr, 0, SourceMemory), nullptr);
    EXPECT_FALSE(music::ModulePlaying());
    EXPECT_EQ(music::PlaybackThreadsAlive(), 0);
}

TEST_F(Player, RefusedModulesLeaveThePlayerIdle) {
    Capture("refused.raw");
    const std::uint8_t junk[400] = {1, 2, 3};
    EXPECT_EQ(PlayModule(junk, sizeof(junk), SourceMemory), nullptr);
    EXPECT_EQ(PlayModule("/nonexistent/song.xm", 0, SourceFile), nullptr);
    EXPECT_EQ(PlayModule("TRACK", 0, SourceResource), nullptr); // no resources here
    EXPECT_FALSE(music::ModulePlaying());
    // The device was closed each time: a good module plays at once.
    EXPECT_NE(PlayModule(music::kTrackFile, music::kTrackFileSize, SourceMemory | SourceFile),
              nullptr);
}

TEST_F(Player, PlaysFromAFile) {
    Capture("file.raw");
    const auto xm = TempFile("track.xm");
    files_.push_back(xm);
    {
        std::ofstream f(xm, std::ios::binary);
        f.write(reinterpret_cast<const char*>(music::kTrackFile), music::kTrackFileSize);
    }
    EXPECT_NE(PlayModule(xm.c_str(), 0, SourceFile), nullptr);
    EXPECT_TRUE(music::ModulePlaying());
}

TEST_F(Player, NoLoopEnds) {
    Capture("noloop.raw");
    // Shorter than the first fill: the song ends before the hand-over, which then fails.
    const std::vector<std::uint8_t> tiny = ShortModule(1);
    EXPECT_EQ(PlayModule(tiny.data(), tiny.size(), SourceMemory | NoLoop), nullptr);
    EXPECT_FALSE(music::ModulePlaying());
    // 64 rows at speed 1 and 125 BPM: 1.2 s; then the player is idle by itself.
    const std::vector<std::uint8_t> shortSong = ShortModule(64);
    ASSERT_NE(PlayModule(shortSong.data(), shortSong.size(), SourceMemory | NoLoop), nullptr);
    EXPECT_TRUE(music::ModulePlaying());
    for (int i = 0; i < 60 && music::ModulePlaying(); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_FALSE(music::ModulePlaying());
    StopModule(); // finds nothing left but the finished thread
    EXPECT_FALSE(music::ModulePlaying());
}
