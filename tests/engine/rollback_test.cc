// Rollback runs against the fake system (real files in a temporary folder): an undo that fails,
// a run without a journal, a run killed half-way (its journal ending in a torn record) undone by
// the next one, and an earlier run that cannot be undone.
#include "engine/rollback.h"

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/driver.h"
#include "settings/messages.h"
#include "support/script_test.h"

namespace kestario {
namespace {

namespace fs = std::filesystem;

constexpr const char* kScript =
    "[UPDATER]\nNAME=Update\nPROC=REMOVE, PROGRAM, ASK, LIBRARY\nLOG=<Src>/run.log\nROLLBACK=1\n"
    "[REMOVE]\nMODE=DELETE\nFILE=<Src>/app/old.dll, <Src>/app/older.dll\n"
    "[PROGRAM]\nMODE=COPY\nFROM=<Src>/new/tool.exe, <Src>/new/extra.dat\n"
    "TO=<Src>/app/tool.exe, <Src>/app/extra.dat\n"
    "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Go on?\nISABORT=0, 1\n"
    "[LIBRARY]\nMODE=COPY\nFROM=<Src>/new/tool.dll\nTO=<Src>/app/tool.dll\n";

void LayOut(const TempDir& dir) {
  dir.Write("app/old.dll", "old library");
  dir.Write("app/older.dll", "older library");
  dir.Write("app/tool.exe", "old program");
  dir.Write("new/tool.exe", "new program");
  dir.Write("new/extra.dat", "extra");
}

class RollbackTest : public ScriptTest {
 protected:
  RollbackTest() {
    system.journalFolder = journals.path() + "/mine";
    mkdir(dir.Path("app").c_str(), 0755);
    mkdir(dir.Path("new").c_str(), 0755);
  }

  // The names in `folder` (relative to the script's) that a rollback run keeps.
  std::vector<std::string> Kept(const std::string& folder) const {
    std::vector<std::string> names;
    if (DIR* listing = opendir(dir.Path(folder).c_str())) {
      while (dirent* entry = readdir(listing)) {
        if (std::string(entry->d_name).rfind(".kestario-", 0) == 0) names.push_back(entry->d_name);
      }
      closedir(listing);
    }
    return names;
  }

  // The script's folder as it is now, kept aside (files, their bytes and names); Restore puts it
  // back, as a run killed at that moment would have left it.
  void Snapshot() {
    // Hard links: every file stays the one it was (the undo checks that it is).
    fs::remove_all(saved.path() + "/tree");
    fs::copy(dir.path(), saved.path() + "/tree",
             fs::copy_options::recursive | fs::copy_options::create_hard_links);
    fs::remove_all(saved.path() + "/journals");
    fs::copy(journals.path(), saved.path() + "/journals", fs::copy_options::recursive);
  }
  void Restore() {
    RestoreFolder(saved.path() + "/tree", dir.path());
    fs::remove_all(journals.path());
    fs::copy(saved.path() + "/journals", journals.path(), fs::copy_options::recursive);
  }
  // Makes `live` hold what `kept` holds: its folders stay the same folders, its files become
  // the kept files again (hard links).
  static void RestoreFolder(const fs::path& kept, const fs::path& live) {
    for (const auto& entry : fs::directory_iterator(live)) {
      if (!entry.is_directory() || entry.is_symlink()) fs::remove(entry.path());
    }
    for (const auto& entry : fs::directory_iterator(kept)) {
      fs::path target = live / entry.path().filename();
      if (entry.is_directory()) {
        fs::create_directory(target);
        RestoreFolder(entry.path(), target);
      } else {
        fs::create_hard_link(entry.path(), target);
      }
    }
  }
  // Catalog message `number` as the box shows it.
  static std::string Message(int number, const char* first, const char* second = "") {
    WideText text;
    EXPECT_TRUE(LoadMessage(number, first, second, &text));
    return ShownText(text);
  }

  // The script's folder and journal as a run killed while its question was open left them: the
  // run is stopped at its question, and what was there then is put back.
  void LeaveAKilledRun() {
    LayOut(dir);
    WriteScript(kScript);
    system.onBox = [this] { Snapshot(); };
    system.answers = {kIdNo};
    UpdaterMain("");
    Restore();
    system.onBox = nullptr;
    system.boxes.clear();
    std::remove(dir.Path("run.log").c_str());
  }

  std::string JournalFile() const {
    for (const auto& entry : fs::directory_iterator(system.journalFolder)) return entry.path();
    return "";
  }

  TempDir journals;
  TempDir saved;
};

TEST_F(RollbackTest, AnUndoThatFailsKeepsTheFileNamesItInTheLogAndShowsOneBox) {
  LayOut(dir);
  std::string script = kScript;
  script.replace(script.find("ROLLBACK=1\n"), 11, "ROLLBACK=1\nEXITCODE=1\nEVENTLOG=1\n");
  WriteScript(script);
  std::string oldDll = dir.Path("app/old.dll");
  std::string toolExe = dir.Path("app/tool.exe");
  // Both files are locked meanwhile: putting them back fails.
  system.moveFails = [&](const std::string&, const std::string& to) {
    return to == oldDll || to == toolExe;
  };
  system.answers = {kIdYes};
  EXPECT_EQ(1603, UpdaterMain(""));

  ASSERT_EQ(3u, system.boxes.size()) << BoxSummary();
  EXPECT_NE(std::string::npos, system.boxes[1].text.find("tool.dll"));  // message 8
  // One box for the undo, naming the first file that could not be put back (the newest change
  // first: the program) and where its old file stays.
  std::vector<std::string> kept = Kept("app");
  ASSERT_EQ(2u, kept.size());
  std::string keptProgram =
      dir.Path("app/") + (kept[0].find("-3.") != std::string::npos ? kept[0] : kept[1]);
  EXPECT_EQ(Message(11, toolExe.c_str(), keptProgram.c_str()), system.boxes[2].text);
  EXPECT_EQ(unsigned{kMbOk | kMbIconError}, system.boxes[2].style);
  // Nothing is lost: the old files stay under their kept names, the rest is undone.
  EXPECT_EQ("old program", dir.Read(keptProgram.substr(dir.path().size() + 1)));
  EXPECT_FALSE(dir.Exists("app/old.dll"));
  EXPECT_EQ("older library", dir.Read("app/older.dll"));
  EXPECT_EQ("new program", dir.Read("app/tool.exe"));
  EXPECT_FALSE(dir.Exists("app/extra.dat"));

  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos, log.find("undo PROGRAM: could not put back \"" + toolExe +
                                        "\"; the old file stays as \"" + keptProgram + "\""))
      << log;
  EXPECT_NE(std::string::npos, log.find("undo PROGRAM: removed \"" + dir.Path("app/extra.dat") +
                                        "\", which the run made"));
  EXPECT_NE(std::string::npos, log.find("undo REMOVE: put back \"" + dir.Path("app/older.dll")));
  EXPECT_NE(std::string::npos, log.find("undo REMOVE: could not put back \"" + oldDll));
  EXPECT_NE(std::string::npos, log.find("error 11 "));
  EXPECT_NE(std::string::npos,
            log.find("end: stopped by message 8; 2 changes rolled back, 2 could not be; exit code "
                     "1603 #"))
      << log;
  // The event names the box that stopped the run, not the undo's.
  ASSERT_EQ(1u, system.events.size());
  EXPECT_EQ(kEventTypeError, system.events[0].type);
  ASSERT_EQ(6u, system.events[0].strings.size());
  EXPECT_EQ("8", system.events[0].strings[4]);
  EXPECT_EQ(system.boxes[1].text, system.events[0].strings[5]);
}

TEST_F(RollbackTest, WithoutATrustedJournalFolderNoFileIsChanged) {
  LayOut(dir);
  WriteScript(kScript);
  system.journalFolder.clear();
  UpdaterMain("");
  ASSERT_EQ(1u, system.boxes.size()) << BoxSummary();
  EXPECT_EQ(Message(10, dir.Path("app/old.dll").c_str()), system.boxes[0].text);
  EXPECT_EQ("old library", dir.Read("app/old.dll"));
  EXPECT_TRUE(Kept("app").empty());
  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos,
            log.find("rollback: no journal can be kept, so no file will be changed"))
      << log;
  EXPECT_NE(std::string::npos, log.find("end: stopped by message 10; 0 changes rolled back #"));
}

TEST_F(RollbackTest, AKilledRunIsUndoneByTheNextBeforeAnythingElseWhateverFollowsItsRecords) {
  // A power cut may leave a record torn, or half written.
  LeaveAKilledRun();
  // Nothing more; a record cut short; a length past the end; a whole end record whose checksum
  // is wrong (its bytes torn), which must not be taken for the run's end.
  const std::string tails[] = {"", std::string("\x21\0\0\0\x01\x02\x03\x04P\x05", 10),
                               "\xff\xff\xff\xff", std::string("\x01\0\0\0\0\0\0\0E", 9)};
  for (const std::string& tail : tails) {
    Restore();
    // Two DELETE items and a replaced file kept, a new one marked.
    ASSERT_EQ(4u, Kept("app").size());
    std::string journal = JournalFile();
    {
      std::ofstream out(journal, std::ios::binary | std::ios::app);
      out << tail;
    }
    ASSERT_EQ("new program", dir.Read("app/tool.exe"));
    ASSERT_FALSE(dir.Exists("app/old.dll"));
    system.boxes.clear();
    system.answers = {kIdNo};
    std::remove(dir.Path("run.log").c_str());
    UpdaterMain("");
    // The earlier run's changes are undone, then this run's own after its answer.
    EXPECT_EQ("old library", dir.Read("app/old.dll"));
    EXPECT_EQ("older library", dir.Read("app/older.dll"));
    EXPECT_EQ("old program", dir.Read("app/tool.exe"));
    EXPECT_FALSE(dir.Exists("app/extra.dat"));
    EXPECT_TRUE(Kept("app").empty());
    std::string log = dir.Read("run.log");
    size_t undoing = log.find(
        "rollback: the run of process 4242 that began 2026-12-08 09:30:05 "
        "did not end: undoing its changes");
    size_t done = log.find("rollback: 4 changes of the earlier run rolled back");
    size_t list = log.find("list UPDATER PROC");
    EXPECT_LT(undoing, done) << log;
    EXPECT_LT(done, list) << log;
    EXPECT_NE(std::string::npos,
              log.find("end: stopped by the answer to ASK; 4 changes rolled back"));
  }
}

TEST_F(RollbackTest, AnUndoFollowsNoPlantedLinkAndPutsBackNoSwappedKeptFile) {
  // Meanwhile somebody swaps the kept old program for a file of their own and makes the program
  // a link to another file; the other changes are as the run left them.
  LeaveAKilledRun();
  dir.Write("new/secret", "secret");
  std::vector<std::string> kept = Kept("app");
  std::string keptProgram;
  for (const std::string& name : kept) {
    if (dir.Read("app/" + name) == "old program") keptProgram = "app/" + name;
  }
  ASSERT_FALSE(keptProgram.empty());
  std::remove(dir.Path(keptProgram).c_str());
  dir.Write(keptProgram, "somebody's program");
  std::remove(dir.Path("app/tool.exe").c_str());
  ASSERT_EQ(0, symlink(dir.Path("new/secret").c_str(), dir.Path("app/tool.exe").c_str()));
  system.answers = {kIdNo};
  UpdaterMain("");
  EXPECT_EQ("secret", dir.Read("new/secret"));
  EXPECT_EQ("somebody's program", dir.Read(keptProgram)) << "stays for the administrator";
  struct stat info;
  EXPECT_EQ(0, lstat(dir.Path("app/tool.exe").c_str(), &info));
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  // The rest is undone; one box tells of the change that is not.
  EXPECT_EQ("old library", dir.Read("app/old.dll"));
  EXPECT_FALSE(dir.Exists("app/extra.dat"));
  ASSERT_EQ(1u, system.boxes.size()) << BoxSummary();
  EXPECT_EQ(Message(11, dir.Path("app/tool.exe").c_str(), dir.Path(keptProgram).c_str()),
            system.boxes[0].text);
  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos, log.find("the kept file is not the one the run kept")) << log;
}

TEST_F(RollbackTest, ADamagedJournalIsToldOnceSetAsideAndNeverStopsTheRun) {
  LeaveAKilledRun();
  std::string script = kScript;
  script.replace(script.find("ROLLBACK=1\n"), 11, "ROLLBACK=1\nEVENTLOG=1\n");
  WriteScript(script);
  std::string journal = JournalFile();
  {
    std::fstream bytes(journal, std::ios::binary | std::ios::in | std::ios::out);
    bytes.seekg(0, std::ios::end);
    std::streamoff middle = bytes.tellg() / 2;
    bytes.seekg(middle);
    char byte = 0;
    bytes.get(byte);
    bytes.seekp(middle);
    bytes.put(static_cast<char>(byte ^ 0x10));
  }
  system.answers = {kIdNo};
  UpdaterMain("");
  std::string log = dir.Read("run.log");
  // Told once, in the log and in one warning event; no box for it, and the run goes on.
  EXPECT_NE(std::string::npos, log.find("\" is damaged: 1 part(s) could not be read")) << log;
  EXPECT_NE(std::string::npos, log.find("list UPDATER PROC")) << log;
  EXPECT_EQ(std::string::npos, log.find("error 11")) << log;
  int damagedEvents = 0;
  for (const auto& event : system.events) damagedEvents += event.id == 1004 ? 1 : 0;
  EXPECT_EQ(1, damagedEvents);
  // Set aside: the journal folder holds a fresh journal and the damaged one under another name.
  bool setAside = false;
  for (const auto& entry : fs::directory_iterator(system.journalFolder)) {
    setAside = setAside || entry.path().extension() == ".damaged";
  }
  EXPECT_TRUE(setAside);
  // The next run meets a clean journal.
  system.answers = {kIdNo};
  std::remove(dir.Path("run.log").c_str());
  UpdaterMain("");
  log = dir.Read("run.log");
  EXPECT_EQ(std::string::npos, log.find("is damaged")) << log;
  EXPECT_EQ(std::string::npos, log.find("did not end")) << log;
}

TEST_F(RollbackTest, AnUndoActsInTheFolderItOpenedThoughItsPathBecomesALinkMeanwhile) {
  // Between the undo's look at the folder and its acts, somebody moves the folder away and puts
  // a link to a folder of their own under its name, holding a file of the same name.
  LeaveAKilledRun();
  mkdir(dir.Path("elsewhere").c_str(), 0755);
  dir.Write("elsewhere/extra.dat", "somebody's file");
  bool swapped = false;
  system.onFolderOpen = [&](const std::string& path) {
    if (swapped || path != dir.Path("app")) return;
    swapped = true;
    ASSERT_EQ(0, rename(dir.Path("app").c_str(), dir.Path("app.moved").c_str()));
    ASSERT_EQ(0, symlink(dir.Path("elsewhere").c_str(), dir.Path("app").c_str()));
  };
  system.answers = {kIdNo};
  UpdaterMain("");
  ASSERT_TRUE(swapped);
  // The newest change (the new extra.dat) was undone in the folder the run changed; nothing was
  // done through the link.
  EXPECT_FALSE(dir.Exists("app.moved/extra.dat"));
  EXPECT_EQ("somebody's file", dir.Read("elsewhere/extra.dat"));
  EXPECT_TRUE(Kept("elsewhere").empty());
  // The others now find a link under the folder's name: they stay, and one box says so.
  EXPECT_FALSE(Kept("app.moved").empty());
  ASSERT_EQ(1u, system.boxes.size()) << BoxSummary();
  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos, log.find("its folder is no longer the one the run changed")) << log;
}

TEST_F(RollbackTest, ACutJournalsKeptFilesAreFoundByTheRunsIdListedAndLeftAlone) {
  LeaveAKilledRun();
  std::string script = kScript;
  script.replace(script.find("ROLLBACK=1\n"), 11, "ROLLBACK=1\nEVENTLOG=1\n");
  WriteScript(script);
  // The journal loses its last records, cut at a record's end (no checksum can see it): the
  // third change and what follows it are gone.
  std::string journal = JournalFile();
  std::string bytes;
  {
    std::ifstream in(journal, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t at = 0;
  int changes = 0;
  while (at + 9 <= bytes.size()) {
    uint32_t length = static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                      static_cast<uint8_t>(bytes[at + 2]) << 16 |
                      static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
    if (bytes[at + 8] == 'T' && ++changes == 3) break;
    at += 8 + length;
  }
  ASSERT_EQ(3, changes);
  {
    std::ofstream out(journal, std::ios::binary | std::ios::trunc);
    out << bytes.substr(0, at);
  }
  std::vector<std::string> unnamed;
  for (const std::string& name : Kept("app")) {
    if (name.find("-3.") != std::string::npos || name.find("-4.") != std::string::npos) {
      unnamed.push_back(name);
    }
  }
  ASSERT_EQ(2u, unnamed.size());
  system.answers = {kIdNo};
  UpdaterMain("");
  // What the good records name is undone; the run goes on (its own question is its only box).
  EXPECT_EQ("old library", dir.Read("app/old.dll"));
  EXPECT_EQ("older library", dir.Read("app/older.dll"));
  ASSERT_EQ(1u, system.boxes.size()) << BoxSummary();
  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos, log.find("list UPDATER PROC")) << log;
  // The files the lost records named are found by the run's id, listed, and left alone.
  for (const std::string& name : unnamed) {
    EXPECT_TRUE(dir.Exists("app/" + name)) << name;
    EXPECT_NE(std::string::npos, log.find("rollback: \"" + dir.Path("app/" + name) +
                                          "\", kept by that run, stays for the administrator"))
        << log;
  }
  EXPECT_EQ("new program", dir.Read("app/tool.exe"));
  EXPECT_NE(std::string::npos, log.find("\" is cut short: its last records are lost")) << log;
  int damagedEvents = 0;
  for (const auto& event : system.events) damagedEvents += event.id == 1004 ? 1 : 0;
  EXPECT_EQ(1, damagedEvents);
  // Set aside: the next run meets a clean journal.
  system.answers = {kIdNo};
  std::remove(dir.Path("run.log").c_str());
  UpdaterMain("");
  log = dir.Read("run.log");
  EXPECT_EQ(std::string::npos, log.find("is cut short")) << log;
  EXPECT_EQ(std::string::npos, log.find("did not end")) << log;
}

TEST_F(RollbackTest, AnEarlierRunThatCannotBeUndoneStopsTheNextWithMessage11) {
  LeaveAKilledRun();
  std::string oldDll = dir.Path("app/old.dll");
  system.moveFails = [&](const std::string&, const std::string& to) { return to == oldDll; };
  UpdaterMain("");
  ASSERT_EQ(1u, system.boxes.size()) << BoxSummary();
  EXPECT_NE(std::string::npos, system.boxes[0].text.find(oldDll));
  std::string log = dir.Read("run.log");
  EXPECT_EQ(std::string::npos, log.find("list UPDATER PROC")) << "nothing more is done: " << log;
  EXPECT_NE(std::string::npos, log.find("end: stopped by message 11")) << log;
  // The old file is not lost: it stays under its kept name.
  std::vector<std::string> kept = Kept("app");
  ASSERT_EQ(1u, kept.size());
  EXPECT_EQ("old library", dir.Read("app/" + kept[0]));
}

}  // namespace
}  // namespace kestario
