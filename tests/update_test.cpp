// The update procedure on a file system in memory and recorded program starts: what it writes,
// starts, waits for and tells the window, in milliseconds.
#include "zelvane/engine/update.h"

#include <gtest/gtest.h>

#include <thread>

#include "fakes.h"
#include "test_support.h"
#include "zelvane/engine/copy.h"
#include "zelvane/platform/crypto.h"

namespace zelvane {
namespace {

using test::Scramble;
using Entries = std::vector<std::pair<std::string, std::string>>;  // destName, product content

const std::string kInstall = "/Program Files/Zelvane";
const std::string kPackage = "/media/package";

std::string Installed(const std::string& name) { return kInstall + "/" + name; }

// One update's world: an install, a package folder (current), recorded programs and a window.
struct World {
    explicit World(const Entries& entries = {{"a.txt", "a"}}) : window(kInstall, true) {
        for (const char* marker : kMarkerFiles) files.AddFile(Installed(marker), "marker");
        files.AddFolder(Installed("Help"));
        std::string list = std::to_string(entries.size() - 1) + "\r\n";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string source = "p" + std::to_string(i);
            files.AddFile(kPackage + "/" + source, Scramble(entries[i].second));
            list += "\"" + entries[i].first + "\",\"" + source + "\"\r\n";
        }
        files.AddFile(kPackage + "/FileList.txt", list);
    }

    UpdateOutcome Run(FailurePolicy policy = FailurePolicy::AllOrNothing) {
        return RunUpdate({window, files, processes, {}, policy});
    }
    const std::string& Report() const { return window.messages.at(0).text; }
    bool Reports(const std::string& text) const { return Report().find(text) != std::string::npos; }

    test::MemoryFileSystem files{kInstall, kPackage};
    test::RecordingProcesses processes{files};
    test::RecordingWindow window;
    std::unique_ptr<Folder> held;  // by another run
};

TEST(Update, CopiesRegistersAndRunsTheProgramsInOrder) {
    const Entries entries{{"a.txt", "alpha"},
                          {"Help\\index.html", "<html>"},
                          {"engine.exe", std::string((64 << 10) * 3 + 7, 'e')},
                          {"with, comma.txt", ""},
                          {"e.dat", std::string(64 << 10, '\x5A')}};
    World world(entries);
    EXPECT_EQ(world.Run(), UpdateOutcome::Installed);
    for (const auto& [name, content] : entries) {
        EXPECT_EQ(world.files.Content(Installed(world.files.NativePath(name))), content) << name;
    }
    const test::RecordingWindow& window = world.window;
    EXPECT_EQ(window.maxima, std::vector<float>{5});
    EXPECT_EQ(window.values, (std::vector<float>{0, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(window.pointers,
              (std::vector<PointerShape>{PointerShape::Hourglass, PointerShape::Default}));
    EXPECT_EQ(window.messages, std::vector<test::Message>{{kSuccessMessage}});
    EXPECT_TRUE(window.closed);

    using Start = std::tuple<std::string, std::vector<std::string>, WindowStyle, std::string>;
    std::vector<Start> started;
    for (const auto& [launch, folder] : world.processes.started) {
        started.emplace_back(launch.program, launch.arguments, launch.style, folder);
    }
    using enum WindowStyle;
    EXPECT_EQ(started,
              (std::vector<Start>{
                  {"regsvr32.exe", {"/s", Installed("NavTree.ocx")}, MinimizedWithFocus, kPackage},
                  {Installed("UnpackDirs.exe"), {}, MinimizedWithFocus, kInstall},
                  {Installed("ViewHost.exe"), {}, NormalWithoutFocus, kInstall}}));
}

// Each case leaves the install and the package as they were, with the window open; the last is
// the window failing as the progress bar first moves.
TEST(Update, AFolderWithoutAnInstallALockedFolderOrAnUnusableListChangeNothing) {
    const std::tuple<std::function<void(World&)>, UpdateOutcome, std::string> cases[] = {
        {[](World& w) { w.files.Remove(Installed(kMarkerFiles.front())); }, UpdateOutcome::NotFound,
         kNotFoundMessage},
        {[](World& w) { w.files.Remove(Installed("")); }, UpdateOutcome::NotFound,
         kNotFoundMessage},
        {[](World& w) { w.files.Remove(kPackage + "/FileList.txt"); }, UpdateOutcome::NotStarted,
         "FileList.txt in the folder \"" + kPackage + "\" cannot be used: cannot open"},
        {[](World& w) { w.files.AddFile(kPackage + "/FileList.txt", "abc\r\na,p0\r\n"); },
         UpdateOutcome::NotStarted, "it does not begin with the number of its last entry"},
        {[](World& w) { (w.held = w.files.OpenFolder(kInstall))->TryLock(); },
         UpdateOutcome::NotStarted, "Another update of this folder is running."},
        {[](World& w) { w.files.freeSpace = 1 << 20; }, UpdateOutcome::NotStarted,
         "There is not enough free space for the update on the install's drive: 2 MB are "
         "needed, 1 MB are free."},
        {[](World& w) {
             w.files.heldBy["a.txt"] = {"Zelvane Engine", "Viewer"};
         },
         UpdateOutcome::FilesInUse,
         "These files are in use: a.txt. Close the programs that use them (Zelvane Engine, "
         "Viewer) and try again."},
        {[](World& w) { w.window.onProgress = [](float) { throw std::runtime_error("gone"); }; },
         UpdateOutcome::Stopped, "The update stopped: gone"},
    };
    for (const auto& [arrange, outcome, message] : cases) {
        World world;
        arrange(world);
        const auto before = world.files.Files();
        EXPECT_EQ(world.Run(), outcome);
        EXPECT_TRUE(world.Reports(message)) << world.Report();
        EXPECT_EQ(world.window.messages.size(), 1u);
        EXPECT_EQ(world.window.messages[0].pointerWhileShown, PointerShape::Default);
        EXPECT_TRUE(world.window.values.size() <= 1 && !world.window.closed);
        EXPECT_EQ(world.files.Files(), before);
        EXPECT_TRUE(world.processes.started.empty());
    }
}

// A bad disk, a package file cut short and a full disk while copying; and, with `names`, two
// names refused, which are judged before anything is copied.
TEST(Update, FailingEntriesChangeNothingOrAreSkippedWhenToldToKeepGoing) {
    const std::string copying[] = {"Cannot copy file b.txt: the disk is bad",
                                   "Cannot copy file f.txt: \"p5\" changed while it was being read",
                                   "Cannot copy file g.txt: the disk is full"};
    // A name is shown with its control characters escaped, so that it cannot forge a line.
    const std::string naming[] = {"Cannot copy file ..\\escaped.txt: ",
                                  "Cannot copy file \\rDone.\\n\\x1B[1A: "};
    using enum FailurePolicy;
    const struct {
        bool names;
        FailurePolicy policy;
        UpdateOutcome outcome;
        bool copyingTold;
        const char* summary;
    } cases[] = {
        {true, KeepGoing, UpdateOutcome::Incomplete, true,
         "incomplete: 2 of 7 files were installed"},
        {true, AllOrNothing, UpdateOutcome::NotStarted, false, "\n\nNothing was changed."},
        {false, AllOrNothing, UpdateOutcome::NotStarted, true, "\n\nNothing was changed."},
    };
    for (const auto& c : cases) {
        World world({{"a.txt", "a"},
                     {"b.txt", "b"},
                     {c.names ? "..\\escaped.txt" : "c.txt", "x"},
                     {"d.txt", "d"},
                     {c.names ? "\rDone.\n\x1B[1A" : "e.txt", "n"},
                     {"f.txt", "cut short"},
                     {"g.txt", "g"}});
        test::MemoryFileSystem& files = world.files;
        files.AddFile(Installed("b.txt"), "old b");
        files.AddFile(Installed("f.txt"), "old f");
        files.beforeTransfer = [&files](const std::string& path, bool writing) {
            if (path == kPackage + "/p1") throw std::runtime_error("the disk is bad");
            if (writing && path == Installed("g.txt.zelvane-partial")) {
                throw std::runtime_error("the disk is full");
            }
            if (path == kPackage + "/p5") files.AddFile(path, "cut");
        };
        const bool keepGoing = c.policy == KeepGoing;
        EXPECT_EQ(world.Run(c.policy), c.outcome);
        EXPECT_EQ(files.Content(Installed("b.txt")), "old b");
        EXPECT_EQ(files.Content(Installed("f.txt")), "old f");
        EXPECT_EQ(files.Exists(Installed("d.txt")), keepGoing);
        EXPECT_TRUE(files.WritesOutside().empty());
        EXPECT_EQ(world.window.failures.size(), (c.names ? 2u : 0u) + (c.copyingTold ? 3u : 0u));
        for (const auto& text : copying) EXPECT_EQ(world.Reports(text), c.copyingTold) << text;
        for (const auto& text : naming) EXPECT_EQ(world.Reports(text), c.names) << text;
        EXPECT_TRUE(world.Reports(c.summary)) << world.Report();
        EXPECT_FALSE(world.Reports("a.txt"));
        EXPECT_EQ(world.window.closed, keepGoing);
        EXPECT_EQ(world.processes.started.empty(), !keepGoing);
        for (const auto& [path, content] : files.Files()) EXPECT_FALSE(path.ends_with("-partial"));
    }
}

TEST(Update, ManyFailuresAreAllToldButKeptInBoundedMemory) {
    World world;
    world.files.AddFile(kPackage + "/FileList.txt", "49999\r\n" + std::string(100000, '\n'));
    EXPECT_EQ(world.Run(), UpdateOutcome::NotStarted);
    EXPECT_EQ(world.window.failures.size(), 50000u);
    EXPECT_TRUE(world.Reports("\n... and 49980 more."));
    EXPECT_EQ(std::count(world.Report().begin(), world.Report().end(), '\n'), 2 + 20);
    const std::string& details = world.window.messages[0].details;
    EXPECT_LE(details.size(), kFailureDetailsBudget + 100);
    EXPECT_NE(details.find(" more.\n\nThe log of this update: "), std::string::npos);

    World early;  // a list that ends early fails the rest at once, without reading them one by one
    early.files.AddFile(kPackage + "/FileList.txt", "2000000000\r\n\"a.txt\",\"p0\"\r\nb.txt\r\n");
    EXPECT_EQ(early.Run(), UpdateOutcome::NotStarted);
    EXPECT_FALSE(early.files.Exists(Installed("a.txt")));
    EXPECT_TRUE(early.Reports("Cannot copy file b.txt: ") &&
                early.Reports("for entries 2 to 2000000000"));
}

TEST(Update, ProgramsThatFailAreReportedAndTheRestStillRuns) {
    const std::vector<std::string> all{"regsvr32.exe", "UnpackDirs.exe", "ViewHost.exe"};
    const ProgramWait ok{WaitEnd::Exited, 0}, lost{WaitEnd::ResultUnknown};
    struct Case {
        std::string failing;
        int failures;
        ProgramWait registration, unpack;
        std::vector<std::string> started;
        std::string reported;
    };
    const Case cases[] = {
        {"regsvr32.exe", 1, ok, ok, {all[1], all[2]}, "Cannot register NavTree.ocx: cannot start"},
        {"UnpackDirs.exe", 1, ok, ok, {all[0], all[2]}, "UnpackDirs.exe: cannot start"},
        {"ViewHost.exe", 1, ok, ok, all, kSuccessMessage},
        {"ViewHost.exe", 2, ok, ok, {all[0], all[1]}, "ViewHost.exe: cannot start"},
        {"", 0, lost, ok, all, "Cannot register NavTree.ocx: the registration tool ran, but its"},
        {"", 0, ok, lost, all, "UnpackDirs.exe: it ran, but its result could not be read"},
    };
    for (const Case& c : cases) {
        World world;
        world.processes.failingStarts[c.failing] = c.failures;
        world.processes.results = {
            {all[0], c.registration}, {all[1], c.unpack}, {all[2], {WaitEnd::Exited, 9}}};
        EXPECT_EQ(world.Run(), c.reported == kSuccessMessage ? UpdateOutcome::Installed
                                                             : UpdateOutcome::Incomplete);
        EXPECT_EQ(world.processes.Names(), c.started) << c.failing;
        EXPECT_TRUE(world.Reports(c.reported)) << world.Report();
        EXPECT_EQ(world.window.values.back(), 1.0f);
        EXPECT_EQ(world.window.pointer, PointerShape::Default);
    }
}

ManifestEntry EntryOf(const test::MemoryFileSystem& files, const std::string& name) {
    const std::string content = files.Content(kPackage + "/" + name);
    const auto hash = NewSha256();
    hash->Update(std::as_bytes(std::span(content)));
    return {hash->Finish(), content.size(), name};
}

TEST(Update, APackagesManifestIsCheckedBeforeAndWhileFilesAreCopied) {
    // Files of several blocks, hashed on a thread of their own; b's last byte changes.
    const std::string big((64 << 10) * 3 + 1, 'x');
    World world({{"a.txt", big}, {"b.txt", big}, {"c.txt", "c"}});
    test::MemoryFileSystem& files = world.files;
    files.AddFile(Installed("b.txt"), "old b");
    const std::vector entries{EntryOf(files, "p0"), EntryOf(files, "p1"),
                              EntryOf(files, "FileList.txt")};
    const std::string manifest = ManifestText(entries);
    files.AddFile(kPackage + "/Package.manifest", manifest);
    files.AddFile(kPackage + "/p1", Scramble(big.substr(1) + "y"));  // changed after packing
    EXPECT_EQ(world.Run(FailurePolicy::KeepGoing), UpdateOutcome::Incomplete);
    EXPECT_EQ(files.Content(Installed("a.txt")), big);
    EXPECT_EQ(files.Content(Installed("b.txt")), "old b");
    EXPECT_FALSE(files.Exists(Installed("c.txt"))) << "not in the manifest";
    EXPECT_TRUE(world.Reports("Cannot copy file b.txt: it does not match the package manifest"));
    EXPECT_TRUE(world.Reports("Cannot copy file c.txt: it does not match the package manifest"));

    // A manifest is read strictly: the line that is wrong is named.
    const std::size_t start = manifest.find('\n') + 1;
    const std::string line = manifest.substr(start, manifest.find('\n', start) + 1 - start);
    const std::pair<std::string, std::string> refusals[] = {
        {"zelvane-manifest 2\n", "line 1 "},
        {manifest + line, "line 5 "},  // a name twice
        {"zelvane-manifest 1\n" + std::string(64, 'A') + "  1  p0\n", "line 2 "},
        {manifest.substr(0, manifest.size() - 1), "line 4 "}};
    for (const auto& [text, where] : refusals) {
        World fresh;
        fresh.files.AddFile(kPackage + "/Package.manifest", text);
        const auto before = fresh.files.Files();
        EXPECT_EQ(fresh.Run(), UpdateOutcome::NotStarted);
        EXPECT_TRUE(fresh.Reports("Package.manifest cannot be used: " + where)) << fresh.Report();
        EXPECT_EQ(fresh.files.Files(), before);
    }
}

// Stands in for SHA-256 (it is no digest) where AddressSanitizer must see every byte read, as it
// cannot in the real one's assembler; it reads each block a while after it gets it, so that the
// copy runs ahead of it.
struct SlowByteSum final : Sha256 {
    static std::unique_ptr<Sha256> New() { return std::make_unique<SlowByteSum>(); }
    void Update(std::span<const std::byte> bytes) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const std::byte byte : bytes) sum ^= byte;
    }
    Sha256Digest Finish() override { return {sum}; }
    std::byte sum{};
};

// A write failing midway through a file hashed on a thread of its own frees no block that the
// hashing still reads (seen by AddressSanitizer, with a hash whose reads it sees).
TEST(Update, AWriteFailingMidwayFreesNoBlockBeingHashed) {
    const ManifestEntry entry{{}, 16 * std::uint64_t{64 << 10}, "p0"};  // 16 blocks
    World world({{"a.txt", std::string(entry.size, 'x')}});
    world.files.beforeTransfer = [&world, &entry](const std::string& path, bool writing) {
        if (writing && world.files.Content(path).size() > entry.size / 2) throw std::exception();
    };
    EXPECT_THROW(CopyEncryptedFile(world.files, *world.files.OpenFolder(kInstall), kPackage + "/p0",
                                   "a.txt", &entry, SlowByteSum::New),
                 std::exception);
}

// Before each change the update makes in turn, the power goes, with some or all files as they
// were at the last flush, or the updater is killed; the next run puts right what it left, and a
// rerun completes the update.
TEST(Update, APowerCutOrAKillAnywhereLeavesTheOldProductOrTheNewWhole) {
    const Entries entries{{"a.txt", "new a"}, {"Help\\b.txt", "new b"}, {"c.txt", "new c"}};
    const auto arrange = [](World& world) {
        world.files.AddFile(Installed("a.txt"), "old a");
        world.files.AddFile(Installed("Help/b.txt"), "old b");
    };
    // The three files' contents, "-" for one that is missing.
    const auto contents = [](const World& world) {
        std::string all;
        for (const std::string name : {"a.txt", "Help/b.txt", "c.txt"}) {
            const std::string path = Installed(name);
            all += (world.files.Exists(path) ? world.files.Content(path) : "-") + ";";
        }
        return all;
    };
    const std::string oldFiles = "old a;old b;-;", newFiles = "new a;new b;new c;";
    World whole(entries);
    arrange(whole);
    ASSERT_EQ(whole.Run(), UpdateOutcome::Installed);
    const int changes = whole.files.Changes();
    for (int cut = 0; cut < changes; ++cut) {
        using Loss = test::MemoryFileSystem::Loss;
        for (const Loss loss :
             {Loss::None, Loss::All, Loss::EveryOther, Loss::TheOthers, Loss::OlderHalf}) {
            SCOPED_TRACE(std::to_string(cut) + " " + std::to_string(static_cast<int>(loss)));
            World world(entries);
            arrange(world);
            world.files.CutPowerAfter(cut);
            world.Run();
            world.files.Restart(loss);
            const std::string list = world.files.Content(kPackage + "/FileList.txt");
            world.files.Remove(kPackage + "/FileList.txt");
            test::RecordingWindow mending(kInstall);
            EXPECT_EQ(RunUpdate({mending, world.files, world.processes}),
                      UpdateOutcome::NotStarted);
            EXPECT_TRUE(contents(world) == oldFiles || contents(world) == newFiles)
                << contents(world);
            world.files.AddFile(kPackage + "/FileList.txt", list);
            test::RecordingWindow rerun(kInstall);
            EXPECT_EQ(RunUpdate({rerun, world.files, world.processes}), UpdateOutcome::Installed);
            EXPECT_EQ(contents(world), newFiles);
            for (const auto& [path, content] : world.files.Files()) {
                EXPECT_EQ(path.find(".zelvane-"), std::string::npos) << path;
            }
        }
    }
}

// Anything else that the window throws once the files are in place ends in a message that says
// what was done, with the busy pointer put back and the window left open.
TEST(Update, AWindowFailingMidwayEndsInAMessageThatSaysWhatWasDone) {
    World world({{"a.txt", "a"}, {"b.txt", "b"}});
    world.window.onProgress = [](float value) {
        if (value >= 2) throw 42;
    };
    EXPECT_EQ(world.Run(), UpdateOutcome::StoppedPartway);
    const std::string text =
        "The update stopped: an unknown failure\n\nBefore it stopped, 2 of 2 files were installed.";
    EXPECT_EQ(world.window.messages, (std::vector<test::Message>{{text}}));
    EXPECT_EQ(world.window.pointer, PointerShape::Default);
    EXPECT_FALSE(world.window.closed);
}

}  // namespace
}  // namespace zelvane
