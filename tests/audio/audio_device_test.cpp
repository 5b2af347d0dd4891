// The audio device against a fake host (real window, counting output module)
// and engine stand-ins written here.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_device.h"
#include "audio/output_gate.h"
#include "engine/authentication_manager.h"
#include "engine/client_advise_sink.h"
#include "engine/error_sink.h"
#include "engine/site_supplier.h"
#include "engine_standins.h"
#include "core/playback.h"
#include "support/test_support.h"

using namespace core;

namespace {

rma::AudioFormat Format(rma::ULONG32 rate, rma::UINT16 channels, rma::UINT16 bits, rma::UINT16 maxBlock = 4410) {
    return rma::AudioFormat{channels, bits, rate, maxBlock, 0};
}

std::string Pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

class AudioDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        NextPlayback();
        device = new audio::AudioDevice(&player);
        device->AddRef();
    }

    void TearDown() override {
        scheduler.DropAll();
        EXPECT_EQ(device->Release(), 0u);
        EXPECT_EQ(player.refs(), 1);
        EXPECT_EQ(scheduler.refs(), 1);
        EXPECT_EQ(response.refs(), 1);
        StopPlayback();
        playing.reset();
    }

    // What the host's Stop does to the output: the playback is closed first.
    void StopPlayback() {
        playing->Close();
        audio::CloseOutputModule(Current(), 1000);
    }
    // Play's new playback, the one the device opens for from now on.
    void NextPlayback() {
        if (playing) StopPlayback();
        playing.reset();
        playing = std::make_unique<testsupport::TestPlayback>(StateOpened);
    }
    Playback& Current() { return **playing; }
    int OutputOpen() { return Current().Gate().outputOpen ? 1 : 0; }

    std::unique_ptr<testsupport::TestPlayback> playing;

    HRESULT OpenStereo(rma::UINT16 maxBlock = 4410) { return Open(Format(44100, 2, 16, maxBlock)); }
    // The engine's Open, then the playback thread's step it asked for:
    // opening the host's output.  `queued` gets the commands it queued.
    HRESULT Open(rma::AudioFormat format, standins::Response* to = nullptr, std::string* queued = nullptr) {
        const HRESULT result = device->Open(&format, to ? to : &response);
        const std::string commands = playing->TakeCommands();
        if (queued) *queued = commands;
        if (commands.find('5') != std::string::npos) audio::OpenOutputModule(Current());
        return result;
    }

    HRESULT Write(const std::string& bytes) {
        standins::Buffer buffer(bytes);
        rma::AudioData data{&buffer, 0, 0};
        HRESULT result = device->Write(&data);
        EXPECT_EQ(buffer.refs(), 1);
        return result;
    }

    testsupport::FakeHost host;
    testsupport::HostCounts& counts = host.counts;
    standins::Scheduler scheduler;
    standins::Player player{&scheduler};
    standins::Response response;
    audio::AudioDevice* device = nullptr;
};

TEST_F(AudioDeviceTest, OpenFeedsTheHostTheFormatFigures) {
    host.settings.openResult = 250;
    ASSERT_EQ(OpenStereo(), 0);
    EXPECT_EQ(counts.outOpen, 1);
    EXPECT_EQ(counts.openRate, 44100);
    EXPECT_EQ(counts.openChannels, 2);
    EXPECT_EQ(counts.openBits, 16);
    EXPECT_EQ(counts.openBufferMs, 0);
    EXPECT_EQ(counts.openPrebufferMs, 0);
    EXPECT_EQ(counts.lastVolume, -666);
    EXPECT_EQ(counts.setInfoArgs[0], 1411) << "kbit/s, as the host shows it";
    EXPECT_EQ(counts.setInfoArgs[1], 44);
    EXPECT_EQ(counts.setInfoArgs[2], 2);
    EXPECT_EQ(counts.setInfoArgs[3], 1);
    EXPECT_EQ(counts.savsaInitArgs[0], 250);
    EXPECT_EQ(counts.savsaInitArgs[1], 44100);
    EXPECT_EQ(counts.vsaSetInfoArgs[0], 44100);
    EXPECT_EQ(counts.vsaSetInfoArgs[1], 2);
    EXPECT_EQ(OutputOpen(), 1);
    EXPECT_EQ(testsupport::CurrentState(), StatePlaying);
    EXPECT_EQ(response.refs(), 2);

    // A second Open neither reopens the output nor replaces anything.
    standins::Response other;
    rma::AudioFormat mono = Format(8000, 1, 8);
    EXPECT_EQ(Open(mono, &other), 0);
    EXPECT_EQ(counts.outOpen, 1);
    EXPECT_EQ(other.refs(), 1);

    ASSERT_EQ(device->Close(FALSE), 0);
    EXPECT_EQ(response.refs(), 1);
    // Close leaves the output open; a later Open of the same device opens it again.
    EXPECT_EQ(OutputOpen(), 1);
    StopPlayback();
    // Once Stop has closed the output, only the next Play lets an Open reach it.
    rma::AudioFormat small = Format(22050, 1, 8);
    EXPECT_EQ(Open(small), rma::kUnexpected);
    EXPECT_EQ(counts.outOpen, 1);
    EXPECT_EQ(response.refs(), 1);
    NextPlayback();
    ASSERT_EQ(Open(small), 0);
    EXPECT_EQ(counts.outOpen, 2);
    EXPECT_EQ(counts.setInfoArgs[0], 176);
    EXPECT_EQ(counts.setInfoArgs[1], 22);
    EXPECT_EQ(counts.setInfoArgs[2], 1);
    EXPECT_EQ(counts.setInfoArgs[3], 1);
    EXPECT_EQ(device->Close(FALSE), 0);
}

TEST_F(AudioDeviceTest, StateTableAndResultCodes) {
    rma::AudioFormat format = Format(44100, 2, 16);
    EXPECT_EQ(device->Open(nullptr, &response), rma::kInvalidArg);
    EXPECT_EQ(device->Open(&format, nullptr), rma::kInvalidArg);
    EXPECT_EQ(response.refs(), 1);
    EXPECT_EQ(counts.outOpen, 0);

    EXPECT_EQ(device->Close(TRUE), rma::kUnexpected);
    EXPECT_EQ(device->Pause(), rma::kUnexpected);
    EXPECT_EQ(device->Resume(), rma::kUnexpected);
    EXPECT_EQ(device->Write(nullptr), rma::kInvalidArg);
    EXPECT_EQ(Write("abcd"), rma::kUnexpected);
    rma::ULONG32 time = 99;
    host.settings.outputTimeMs = 1234;
    EXPECT_EQ(device->GetCurrentAudioTime(&time), 0);
    EXPECT_EQ(time, 0u);

    EXPECT_EQ(device->InitVolume(3, 7), 1);
    EXPECT_EQ(device->SetVolume(40000), 0);
    EXPECT_EQ(device->GetVolume(), 40000);
    EXPECT_EQ(device->CheckFormat(&format), 0);
    EXPECT_EQ(counts.outSetVolume, 0);

    ASSERT_EQ(Open(format), 0);
    EXPECT_EQ(device->Resume(), rma::kUnexpected);
    EXPECT_EQ(device->Pause(), 0);
    EXPECT_EQ(device->Pause(), rma::kUnexpected);
    EXPECT_EQ(device->GetCurrentAudioTime(&time), 0);
    EXPECT_EQ(time, 1234u);
    EXPECT_EQ(device->Resume(), 0);
    EXPECT_EQ(device->Reset(), 0);
    EXPECT_EQ(device->Drain(), 0);
    EXPECT_EQ(device->Close(FALSE), 0);
    EXPECT_EQ(device->Close(FALSE), rma::kUnexpected);
    EXPECT_EQ(device->Pause(), rma::kUnexpected);
}

TEST_F(AudioDeviceTest, DeviceWithoutPlayerCannotOpen) {
    rma::IRMAAudioDevice* orphan = audio::NewAudioDevice(nullptr);
    ASSERT_NE(orphan, nullptr);
    EXPECT_EQ(orphan->AddRef(), 1u);
    rma::AudioFormat format = Format(44100, 2, 16);
    EXPECT_EQ(orphan->Open(&format, &response), rma::kUnexpected);
    EXPECT_EQ(orphan->Close(TRUE), rma::kUnexpected);
    EXPECT_EQ(response.refs(), 1);
    EXPECT_EQ(orphan->Release(), 0u);
}

TEST_F(AudioDeviceTest, FormatsThatWouldDivideByZeroAreRefusedBeforeTheOutput) {
    const rma::AudioFormat bad[] = {Format(44100, 0, 16), Format(0, 2, 16), Format(44100, 2, 4),
                                    Format(44100, 2, 0),
                                    // bits x channels x rate wraps to 0 in 32 bits
                                    Format(65536, 256, 256)};
    for (const rma::AudioFormat& format : bad) {
        EXPECT_EQ(device->Open(&format, &response), rma::kInvalidArg)
            << format.samplesPerSec << "/" << format.channels << "/" << format.bitsPerSample;
    }
    EXPECT_EQ(counts.outOpen, 0);
    EXPECT_EQ(response.refs(), 1);
    EXPECT_EQ(testsupport::CurrentState(), StateOpened);
    // The device is still usable with a sound format.
    ASSERT_EQ(OpenStereo(), 0);
    EXPECT_EQ(device->Close(TRUE), 0);
}

// The device's Open runs on an engine thread holding the engine's lock: the
// output is opened by the playback's thread, never there (an output may
// send the host's window messages inside its Open, or show its box), and
// blocks wait meanwhile.  A refused output fails the playback with one box
// from that thread, then its stop.  The box of a playback that Stop ended
// sends the host no Stop (it would end the next one).
TEST_F(AudioDeviceTest, OutputOpensOnThePlaybackThreadAndARefusalQueuesOneBox) {
    testsupport::MessageBoxWatcher watcher;
    host.settings.openResult = -1;
    host.settings.stopOnMessages = false;
    rma::AudioFormat format = Format(44100, 2, 16);
    EXPECT_EQ(device->Open(&format, &response), 0);
    EXPECT_EQ(counts.outOpen, 0) << "not on the engine's thread";
    EXPECT_EQ(Write(Pattern(400)), rma::kWouldBlock) << "blocks wait for the output";
    EXPECT_EQ(counts.outCanWrite, 0);
    EXPECT_EQ(playing->TakeCommands(), "5");
    EXPECT_FALSE(audio::OpenOutputModule(Current()));
    EXPECT_EQ(counts.outOpen, 1);
    EXPECT_EQ(testsupport::CurrentState(), StateFailed);
    EXPECT_EQ(OutputOpen(), 0);
    EXPECT_EQ(counts.setInfo, 0);
    testsupport::PumpFor(30);
    EXPECT_EQ(watcher.Count(), 0u) << "the box is the thread's to show";
    EXPECT_EQ(playing->TakeCommands(), "41") << "the box, then the stop";
    FailureBox box;
    ASSERT_TRUE(Current().TakeFailureBox(&box));
    EXPECT_STREQ(box.caption, "Error opening module");
    EXPECT_STREQ(box.text, "Could not open output module");
    EXPECT_FALSE(Current().TakeFailureBox(&box));
    EXPECT_FALSE(Current().QueueFailureBox("again", "Error")) << "one box a playback";
    EXPECT_EQ(device->Close(TRUE), 0);
    EXPECT_EQ(response.refs(), 1);

    StopPlayback();
    EXPECT_FALSE(Current().PostToHost(WM_COMMAND, winamp::kStopCommand));
    testsupport::PumpFor(50);
    EXPECT_EQ(counts.stopCommands.load(), 0);

    NextPlayback();
    host.settings.openResult = 0;
    EXPECT_EQ(OpenStereo(), 0);
    EXPECT_EQ(testsupport::CurrentState(), StatePlaying);
    EXPECT_EQ(counts.outOpen, 2);
    EXPECT_EQ(Write(Pattern(400)), 0);
    EXPECT_EQ(device->Close(TRUE), 0);
}

TEST_F(AudioDeviceTest, BlocksAreSplitIntoHostSizedWritesWithoutCopying) {
    ASSERT_EQ(OpenStereo(), 0);
    host.captureWrites = true;
    host.settings.canWrite = 20000;
    const std::string block = Pattern(20000);
    EXPECT_EQ(Write(block), 0);
    EXPECT_EQ(host.writeSizes, (std::vector<int>{8192, 8192, 3616}));
    EXPECT_TRUE(host.written == block);
    EXPECT_EQ(counts.saAddPcm, 1);
    EXPECT_EQ(counts.vsaAddPcm, 1);
    EXPECT_EQ(counts.dspDoSamples, 0);

    // With DSP off the engine's own block goes to the output module.
    static const char* seen[3];
    static int writes;
    writes = 0;
    const winamp::Out_Module original = *g_module.outMod;
    g_module.outMod->Write = [](char* data, int) {
        if (writes < 3) seen[writes] = data;
        ++writes;
        return 0;
    };
    // The host sets its record's output before every Play, and its decode
    // path swaps in one of its own: the playback keeps the one it began with.
    winamp::Out_Module swapped = original;
    swapped.Write = [](char*, int) {
        ADD_FAILURE() << "a playback wrote to an output the host set after its Play";
        return 0;
    };
    winamp::Out_Module* const own = g_module.outMod;
    g_module.outMod = &swapped;
    standins::Buffer buffer(block);
    rma::AudioData data{&buffer, 0, 0};
    EXPECT_EQ(device->Write(&data), 0);
    g_module.outMod = own;
    *g_module.outMod = original;
    const char* engineBlock = reinterpret_cast<const char*>(buffer.GetBuffer());
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(seen[0], engineBlock);
    EXPECT_EQ(seen[1], engineBlock + 8192);
    EXPECT_EQ(seen[2], engineBlock + 16384);

    // A block of 0 bytes reaches the hooks but the output module gets nothing.
    host.settings.dspActive = 1;
    const int writesBefore = counts.outWrite;
    EXPECT_EQ(Write(""), 0);
    EXPECT_EQ(counts.saAddPcm, 3);
    EXPECT_EQ(counts.dspDoSamples, 1);
    EXPECT_EQ(counts.outWrite, writesBefore);
    EXPECT_EQ(device->Close(TRUE), 0);
}

// Doubles every 16-bit stereo frame, as a tempo effect would, in the buffer it is given.
int __cdecl StretchSamples(short* samples, int count, int bits, int channels, int) {
    for (int i = count - 1; i >= 0; --i) {
        for (int c = 0; c < channels; ++c) {
            samples[(2 * i) * channels + c] = samples[i * channels + c];
            samples[(2 * i + 1) * channels + c] = samples[i * channels + c];
        }
    }
    return 2 * count;
}

int __cdecl InvertSamples(short* samples, int count, int, int channels, int) {
    for (int i = 0; i < count * channels; ++i) samples[i] = static_cast<short>(-samples[i]);
    return count;
}

TEST_F(AudioDeviceTest, DspRunsOnTheDevicesOwnBufferAndItsCountIsWritten) {
    ASSERT_EQ(OpenStereo(), 0);
    host.captureWrites = true;
    host.settings.dspActive = 1;
    auto* original = g_module.dsp_dosamples;
    g_module.dsp_dosamples = StretchSamples;

    const std::string block = Pattern(6000);  // 1500 stereo frames
    standins::Buffer buffer(block);
    rma::AudioData data{&buffer, 0, 0};
    EXPECT_EQ(device->Write(&data), 0);
    EXPECT_TRUE(buffer.bytes() == block) << "the engine's block must stay untouched";
    ASSERT_EQ(host.written.size(), 12000u);
    EXPECT_EQ(host.writeSizes, (std::vector<int>{8192, 3808}));
    EXPECT_EQ(host.written.substr(0, 8), block.substr(0, 4) + block.substr(0, 4));
    EXPECT_EQ(host.written.substr(11992, 8), block.substr(5996, 4) + block.substr(5996, 4));

    host.written.clear();
    host.writeSizes.clear();
    g_module.dsp_dosamples = InvertSamples;
    EXPECT_EQ(Write(block), 0);
    ASSERT_EQ(host.written.size(), block.size());
    const short* in = reinterpret_cast<const short*>(block.data());
    const short* out = reinterpret_cast<const short*>(host.written.data());
    EXPECT_EQ(out[0], static_cast<short>(-in[0]));
    EXPECT_EQ(out[2999], static_cast<short>(-in[2999]));

    g_module.dsp_dosamples = original;
    EXPECT_EQ(device->Close(TRUE), 0);
}

TEST_F(AudioDeviceTest, OnlyPlayingAndSeekingLetBlocksThrough) {
    ASSERT_EQ(OpenStereo(), 0);
    const PlaybackState dropped[] = {StateIdle, StateStarting, StateSeekRequested, StateOpened, StateFailed};
    for (PlaybackState state : dropped) {
        Current().ForceStateForTesting(state);
        EXPECT_EQ(Write(Pattern(400)), 0) << state;
        EXPECT_EQ(scheduler.PendingCount(), 1u) << "the time callback is entered in state " << state;
    }
    EXPECT_EQ(counts.saAddPcm, 0);
    EXPECT_EQ(counts.vsaAddPcm, 0);
    EXPECT_EQ(counts.outCanWrite, 0);
    EXPECT_EQ(counts.outWrite, 0);

    Current().ForceStateForTesting(StateSeeking);
    EXPECT_EQ(Write(Pattern(400)), 0);
    Current().ForceStateForTesting(StatePlaying);
    EXPECT_EQ(Write(Pattern(400)), 0);
    EXPECT_EQ(counts.saAddPcm, 2);
    EXPECT_EQ(counts.outWrite, 2);
    EXPECT_EQ(device->Close(TRUE), 0);
}

TEST_F(AudioDeviceTest, TimeCallbackChainAndItsCancellations) {
    ASSERT_EQ(OpenStereo(17640), 0);
    host.settings.outputTimeMs = 480;
    EXPECT_EQ(Write(Pattern(100)), 0);
    ASSERT_EQ(scheduler.PendingCount(), 1u);
    EXPECT_EQ(scheduler.delays.back(), 50u);
    EXPECT_EQ(Write(Pattern(100)), 0);
    EXPECT_EQ(scheduler.delays.size(), 1u) << "at most one callback pending";

    scheduler.FireOne();
    EXPECT_EQ(response.times, (std::vector<rma::ULONG32>{480}));
    EXPECT_EQ(scheduler.PendingCount(), 1u) << "Func enters the next callback";
    // A seek flushes the host's output to its target and the output's time
    // goes on from there; the engine adds the target itself, so it is told
    // the time played since the flush.
    audio::FlushOutput(Current(), 4000);
    host.settings.outputTimeMs = 4300;
    scheduler.FireOne();
    EXPECT_EQ(response.times.back(), 300u);
    // An engine that seeks by itself and announces nothing (no OnPreSeek):
    // the device's Reset drops what the output holds of the old place, and
    // the time counts from there.
    EXPECT_EQ(device->Reset(), 0);
    EXPECT_EQ(counts.lastFlush.load(), 4300);
    host.settings.outputTimeMs = 4450;
    EXPECT_EQ(Write(Pattern(100)), 0);
    scheduler.FireOne();
    EXPECT_EQ(response.times.back(), 150u);

    const struct {
        const char* name;
        HRESULT (STDMETHODCALLTYPE audio::AudioDevice::*cancel)();
    } cancels[] = {{"Pause", &audio::AudioDevice::Pause}, {"Reset", &audio::AudioDevice::Reset},
                   {"Drain", &audio::AudioDevice::Drain}};
    for (const auto& c : cancels) {
        ASSERT_EQ(scheduler.PendingCount(), 1u) << c.name;
        size_t removedBefore = scheduler.removed.size();
        EXPECT_EQ((device->*c.cancel)(), 0) << c.name;
        EXPECT_EQ(scheduler.PendingCount(), 0u) << c.name;
        EXPECT_EQ(scheduler.removed.size(), removedBefore + 1) << c.name;
        EXPECT_EQ(device->CallbackHandleForTesting(), 0u) << c.name;
        if (c.cancel == &audio::AudioDevice::Pause)
            EXPECT_EQ(device->Resume(), 0);
        else
            EXPECT_EQ(Write(Pattern(100)), 0);
    }
    EXPECT_EQ(device->Close(TRUE), 0);
    EXPECT_EQ(scheduler.PendingCount(), 0u) << "a flushing Close cancels";

    // Blocks of a few milliseconds: the period stays at the scheduler's own
    // tick, never 0 (a callback entered again at once, for ever).
    ASSERT_EQ(OpenStereo(100), 0);
    EXPECT_EQ(Write(Pattern(100)), 0);
    EXPECT_EQ(scheduler.delays.back(), 10u);
    EXPECT_EQ(device->Close(TRUE), 0);
}

TEST_F(AudioDeviceTest, CallbackAfterCloseWithoutFlushEndsTheChain) {
    ASSERT_EQ(OpenStereo(), 0);
    EXPECT_EQ(Write(Pattern(100)), 0);
    EXPECT_EQ(device->Close(FALSE), 0);
    EXPECT_EQ(scheduler.PendingCount(), 1u) << "Close without flush leaves the callback pending";
    EXPECT_EQ(response.refs(), 1);
    scheduler.FireOne();
    EXPECT_TRUE(response.times.empty());
    EXPECT_EQ(scheduler.PendingCount(), 0u);
    EXPECT_EQ(device->CallbackHandleForTesting(), 0u);
}

TEST_F(AudioDeviceTest, GranularityFollowsTheLargestBlockUntilReset) {
    rma::AudioFormat format = Format(8000, 1, 8, 1000);
    ASSERT_EQ(Open(format), 0);
    EXPECT_EQ(Write(Pattern(10)), 0);
    EXPECT_EQ(scheduler.delays.back(), 62u);
    EXPECT_EQ(device->Close(TRUE), 0);

    format = Format(44100, 2, 16, 17640);
    ASSERT_EQ(Open(format), 0);
    EXPECT_EQ(Write(Pattern(10)), 0);
    EXPECT_EQ(scheduler.delays.back(), 50u);
    EXPECT_EQ(device->Close(TRUE), 0);
}

TEST_F(AudioDeviceTest, ResumeWithoutSchedulerStaysPaused) {
    ASSERT_EQ(OpenStereo(), 0);
    EXPECT_EQ(device->Pause(), 0);
    player.offerScheduler = false;
    EXPECT_EQ(device->Resume(), rma::kFail);
    EXPECT_EQ(device->Pause(), rma::kUnexpected) << "still paused";
    player.offerScheduler = true;
    EXPECT_EQ(device->Resume(), 0);
    EXPECT_EQ(device->Close(TRUE), 0);
}

TEST_F(AudioDeviceTest, AllFacesShareOneCount) {
    void* callbackFace = nullptr;
    ASSERT_EQ(device->QueryInterface(rma::IID_IRMACallback, &callbackFace), 0);
    EXPECT_NE(callbackFace, static_cast<void*>(static_cast<rma::IRMAAudioDevice*>(device)));
    EXPECT_EQ(device->RefCountForTesting(), 2);
    auto* callback = static_cast<rma::IRMACallback*>(callbackFace);
    void* main = nullptr;
    ASSERT_EQ(callback->QueryInterface(rma::IID_Unknown, &main), 0);
    EXPECT_EQ(main, static_cast<void*>(static_cast<rma::IRMAAudioDevice*>(device)));
    EXPECT_EQ(device->RefCountForTesting(), 3);
    void* again = nullptr;
    ASSERT_EQ(callback->QueryInterface(rma::IID_IRMAAudioDevice, &again), 0);
    EXPECT_EQ(again, main);
    void* none = &again;
    EXPECT_EQ(callback->QueryInterface(rma::IID_IRMAScheduler, &none), rma::kNoInterface);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(device->RefCountForTesting(), 4);
    // The scheduler asks the callback whether it may run on the engine's
    // timer thread: no, the system thread's.
    void* safeFace = nullptr;
    ASSERT_EQ(callback->QueryInterface(rma::IID_IRMAInterruptSafe, &safeFace), 0);
    EXPECT_EQ(static_cast<rma::IRMAInterruptSafe*>(safeFace)->IsInterruptSafe(), 0);
    EXPECT_EQ(static_cast<rma::IRMAInterruptSafe*>(safeFace)->Release(), 4u);
    EXPECT_EQ(static_cast<rma::IRMAAudioDevice*>(again)->Release(), 3u);
    EXPECT_EQ(callback->Release(), 2u);
    EXPECT_EQ(static_cast<rma::IRMAAudioDevice*>(main)->Release(), 1u);
}

// A Write finds no room: it is refused at once (the engine keeps the block
// and writes it first next time), before any hook has seen it, so the
// engine's thread, the host's own inside the time callback, never waits.
TEST_F(AudioDeviceTest, WriteWithoutRoomIsRefusedAtOnceAndComesAgain) {
    ASSERT_EQ(OpenStereo(), 0);
    host.settings.canWrite = 100;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Write(Pattern(8000)), rma::kWouldBlock);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(counts.saAddPcm, 0);
    EXPECT_EQ(counts.vsaAddPcm, 0);
    EXPECT_EQ(counts.outWrite, 0);
    host.settings.canWrite = 1 << 20;
    EXPECT_EQ(Write(Pattern(8000)), 0);
    EXPECT_EQ(counts.saAddPcm, 1);
    EXPECT_EQ(counts.outWrite, 1);

    // Once Stop closes the output, the engine goes on writing until the
    // player stops: nothing reaches the host, and nothing is refused.
    StopPlayback();
    EXPECT_EQ(counts.outClose, 1);
    EXPECT_EQ(counts.savsaDeInit, 1);
    const int canWrites = counts.outCanWrite, times = counts.outGetOutputTime;
    EXPECT_EQ(Write(Pattern(400)), 0);
    rma::ULONG32 time = 0;
    EXPECT_EQ(device->GetCurrentAudioTime(&time), 0);
    scheduler.FireOne();
    EXPECT_EQ(counts.outCanWrite, canWrites);
    EXPECT_EQ(counts.outGetOutputTime, times);
    EXPECT_EQ(counts.outWrite, 1);
    EXPECT_EQ(counts.writesAfterClose, 0);
    EXPECT_EQ(device->Close(TRUE), 0);

    // The next playback's Open lets blocks through again.
    NextPlayback();
    ASSERT_EQ(OpenStereo(), 0);
    EXPECT_EQ(Write(Pattern(400)), 0);
    EXPECT_EQ(counts.outWrite, 2);
    EXPECT_EQ(device->Close(TRUE), 0);
}

// A block that ends inside a frame (1000 bytes of 24-bit mono) leaves the
// frame's start for the next: the hooks and the DSP take whole frames, and
// the sound stays whole and in place (cut to frames, it slid a byte a block).
TEST_F(AudioDeviceTest, BlocksThatEndInsideAFrameLoseNoByteThroughTheDsp) {
    ASSERT_EQ(Open(Format(48000, 1, 24, 1000)), 0);
    host.captureWrites = true;
    host.settings.dspActive = 1;
    const std::string sound = Pattern(5000);  // 1666 frames and 2 bytes
    for (size_t at = 0; at < sound.size(); at += 1000) EXPECT_EQ(Write(sound.substr(at, 1000)), 0);
    EXPECT_EQ(host.written.size(), 4998u);
    EXPECT_TRUE(host.written == sound.substr(0, 4998)) << "the sound written is not the engine's";
    EXPECT_EQ(counts.dspDoSamples, 5);
    EXPECT_EQ(device->Close(TRUE), 0);
}

// An output call of another thread that takes over a second (a slow device
// reset, a disk writer on a slow share) makes the gate busy, not closed:
// the block waits in the engine instead of being dropped as written, the
// end's drain looks again, and a seek's Flush and the host's Pause are
// made by the next holder.
TEST_F(AudioDeviceTest, BusyGateHoldsBlocksBackAndKeepsTheFlushForLater) {
    ASSERT_EQ(OpenStereo(), 0);
    ASSERT_EQ(Write(Pattern(400)), 0);
    ASSERT_EQ(counts.outWrite, 1);
    std::timed_mutex& gate = Current().Gate().lock;
    {
        // Each busy access waits a second for the gate: four of them fit.
        std::atomic<bool> held{false};
        testsupport::EngineThreadCall holder([&] {
            std::lock_guard<std::timed_mutex> hung(gate);
            held = true;
            Sleep(6000);
        });
        ASSERT_TRUE(testsupport::PumpUntil([&] { return held.load(); }, 2000));
        EXPECT_EQ(Write(Pattern(400)), rma::kWouldBlock) << "a block dropped behind a busy gate";
        EXPECT_EQ(audio::ProbePlayout(Current()), audio::Playout::Playing);
        audio::FlushOutput(Current(), 2500);
        audio::PauseOutput(Current(), true);
        EXPECT_EQ(counts.outFlush, 0);
        EXPECT_EQ(counts.outPause, 0);
        ASSERT_TRUE(holder.Finish());
    }
    EXPECT_EQ(counts.outWrite, 1);
    EXPECT_EQ(audio::ProbePlayout(Current()), audio::Playout::Paused);
    EXPECT_EQ(counts.lastFlush, 2500) << "the Flush left for later is made by the next access";
    EXPECT_EQ(counts.outFlush, 1);
    EXPECT_EQ(counts.lastPause, 1) << "the host's Pause is told by the next access";
    audio::PauseOutput(Current(), false);
    EXPECT_EQ(counts.lastPause, 0);
    EXPECT_EQ(counts.outPause, 2);
    EXPECT_EQ(Write(Pattern(400)), 0);
    EXPECT_EQ(counts.outWrite, 2);
    EXPECT_EQ(device->Close(TRUE), 0);
}

// The output's Write answers 1 when it cannot take data yet (the default
// output does so while paused, and a Pause can come between CanWrite and
// Write).  What it refused goes first, once, before anything else, and the
// engine is held back meanwhile; the end of the stream waits for it.
TEST_F(AudioDeviceTest, WhatTheOutputRefusesIsWrittenLaterOnceAndInOrder) {
    ASSERT_EQ(OpenStereo(), 0);
    host.captureWrites = true;
    const std::string first = Pattern(20000), second = Pattern(3000).replace(0, 1, "x");
    host.settings.refuseWrites = 1;
    EXPECT_EQ(Write(first), 0);  // the block is the output's; its rest waits
    host.settings.refuseWrites = 1;
    EXPECT_EQ(Write(second), rma::kWouldBlock);
    EXPECT_EQ(Write(second), 0);
    EXPECT_TRUE(host.written == first + second) << host.written.size() << " bytes written";

    host.settings.refuseWrites = 1;
    EXPECT_EQ(Write(first), 0);
    host.settings.isPlaying = 0;
    EXPECT_EQ(audio::ProbePlayout(Current()), audio::Playout::Done);
    EXPECT_TRUE(host.written == first + second + first) << host.written.size() << " bytes written";

    // A seek's Flush drops it with the rest of the old place.
    host.settings.refuseWrites = 1;
    EXPECT_EQ(Write(second), 0);
    audio::FlushOutput(Current(), 500);
    EXPECT_EQ(Write(first), 0);
    EXPECT_EQ(host.written.size(), first.size() * 3 + second.size());
    EXPECT_EQ(device->Close(TRUE), 0);
}

// The host's spectrum and oscilloscope read 576 frames from the pointer,
// whatever the block holds: a shorter block must not be read past its end
// (here the end of a page, before one that cannot be read).
TEST_F(AudioDeviceTest, VisualisationGetsTheLatest576FramesOfAShortBlock) {
    ASSERT_EQ(OpenStereo(), 0);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const DWORD page = system.dwPageSize;
    auto* memory = static_cast<UCHAR*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(memory, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(memory + page, page, PAGE_NOACCESS, &old));

    const std::string older = Pattern(300 * 4), latest = Pattern(400 * 4).replace(0, 4, "abcd");
    EXPECT_EQ(Write(older), 0);
    UCHAR* block = memory + page - latest.size();
    std::memcpy(block, latest.data(), latest.size());
    standins::Buffer buffer(block, static_cast<rma::ULONG32>(latest.size()));
    rma::AudioData data{&buffer, 0, 0};
    EXPECT_EQ(device->Write(&data), 0);
    EXPECT_EQ(buffer.refs(), 1);
    // 176 frames of the older block, then the whole latest one.
    EXPECT_TRUE(host.visFrames == older.substr(older.size() - 176 * 4) + latest)
        << host.visFrames.size() << " bytes";
    EXPECT_EQ(counts.vsaAddPcm, 2);
    EXPECT_EQ(device->Close(TRUE), 0);
    VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace
