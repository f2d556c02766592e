// The preset list over a scripted command channel.
#include "ptz/preposition_list.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// A command channel whose presets and answers the test sets; every call it
// gets and every line it logs is recorded in order.
class ScriptedComm : public IPrepositionComm {
 public:
  void DebugMessage(int level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    calls.push_back("log " + std::to_string(level) + " " + buffer);
  }
  bool SavePreset(std::uint32_t at, const std::string& name) override { return Record("save", at, name, saves); }
  bool RecallPreset(std::uint32_t at, const std::string& name, std::uint32_t) override {
    if (throwOnRecall) throw std::runtime_error("recall");
    return Record("recall", at, name, recalls);
  }
  bool DeletePreset(std::uint32_t at, const std::string& name) override { return Record("delete", at, name, deletes); }
  bool LoadPresets(std::vector<PresetEntry>& list) override {
    list.insert(list.end(), presets.begin(), presets.end());
    return loads;
  }
  bool CanSavePresets() const override { return canSave; }
  bool CanDeletePresets() const override { return canDelete; }
  bool Record(const char* what, std::uint32_t at, const std::string& name, bool result) {
    calls.push_back(std::string(what) + " " + std::to_string(at) + " " + name);
    return result;
  }

  std::vector<PresetEntry> presets;
  bool loads = true, recalls = true, saves = true, deletes = true, canSave = true, canDelete = true;
  bool throwOnRecall = false;
  std::vector<std::string> calls;
};

TEST(PrepositionListTest, NameMayHoldNoneOfTheSixXmlCharactersAndNotBeEmpty) {
  for (const char c : std::string("&!<>'\"")) EXPECT_FALSE(CPrepositionList::IsValidName(std::string("a") + c)) << c;
  EXPECT_FALSE(CPrepositionList::IsValidName(""));
  for (const char* name : {"Door 2", "50%", " ", "T\xC3\xBCr\tNord", "a;b/c"}) {
    EXPECT_TRUE(CPrepositionList::IsValidName(name)) << name;
  }
}

TEST(PrepositionListTest, ShowsRecallsAddsAndDeletesAsTheChannelAllows) {
  using L = CPrepositionList;
  using C = ScriptedComm;
  const std::string prefix = "log 1 quorvel::CPrepositionList::AddPreposition: A preposition ";
  struct Case {
    const char* name;
    std::vector<PresetEntry> presets;  // loaded by a refresh first
    std::function<void(L&, C&)> act;
    std::vector<std::string> shown;
    std::string current;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"only named slots are shown, in list order, and set the limit", {{"Door", 0}, {"", 1}, {"Gate", 2}},
       [](L& l, C&) {
         std::string name = "stale";
         EXPECT_FALSE(l.GetNameAt(2, name));
         EXPECT_EQ(name, "");
         EXPECT_EQ(l.GetLimit(), 2u);
       },
       {"Door", "Gate"}, "", {}},
      {"an index listed twice keeps the later name and is shown twice", {{"Door", 4}, {"Gate", 4}, {"Yard", 1}},
       [](L& l, C&) { EXPECT_EQ(l.GetLimit(), 3u); }, {"Gate", "Gate", "Yard"}, "", {}},
      {"a failed refresh leaves an empty list", {{"Door", 0}},
       [](L& l, C& c) {
         EXPECT_TRUE(l.GoToPreposition("Door", 1));
         c.loads = false;
         EXPECT_FALSE(l.Refresh());
       },
       {}, "", {"recall 0 Door"}},
      {"recall takes the lowest index with exactly the name", {{"Gate", 5}, {"gate", 1}, {"Gate", 2}, {"Door", 0}},
       [](L& l, C&) {
         EXPECT_TRUE(l.GoToPreposition("Gate", 9));
         for (const char* miss : {"GATE", "Gat", ""}) EXPECT_FALSE(l.GoToPreposition(miss, 1));
       },
       {"Gate", "gate", "Gate", "Door"}, "Gate", {"recall 2 Gate"}},
      {"a failed or throwing recall keeps the current preset", {{"Door", 0}, {"Gate", 1}},
       [](L& l, C& c) {
         EXPECT_TRUE(l.GoToPreposition("Door", 1));
         c.recalls = false;
         EXPECT_FALSE(l.GoToPreposition("Gate", 1));
         c.throwOnRecall = true;
         EXPECT_FALSE(l.GoToPreposition("Gate", 1));
       },
       {"Door", "Gate"}, "Door", {"recall 0 Door", "recall 1 Gate"}},
      {"an invalid name is logged as text", {{"Door", 0}},
       [](L& l, C&) { EXPECT_EQ(l.AddPreposition("100% <sure>"), -3); },
       {"Door"}, "", {prefix + "\"100% <sure>\" cannot be added - the name is invalid."}},
      {"add takes the first free slot once one was deleted", {{"Door", 0}, {"Gate", 1}, {"", 2}, {"", 3}, {"Yard", 4}},
       [](L& l, C&) {
         EXPECT_EQ(l.AddPreposition("Pier"), -26);
         EXPECT_TRUE(l.DeletePreposition("Gate"));
         EXPECT_EQ(l.AddPreposition("Pier"), 1);
       },
       {"Door", "Yard", "Pier"}, "Pier",
       {prefix + "\"Pier\" cannot be added. Camera supports saving not more than 3 prepositions.",
        "delete 1 Gate", "save 1 Pier"}},
      {"add needs a channel that saves", {{"Door", 0}, {"Gate", 1}, {"", 2}},
       [](L& l, C& c) {
         EXPECT_TRUE(l.DeletePreposition("Door"));
         c.saves = false;
         EXPECT_EQ(l.AddPreposition("Pier"), -18);
         c.canSave = false;
         EXPECT_EQ(l.AddPreposition("Pier"), -18);
       },
       {"Gate"}, "", {"delete 0 Door", "save 0 Pier", "save 2 Pier"}},
      {"delete needs a shown name and a channel that deletes; it ends the current preset",
       {{"Door", 0}, {"Gate", 1}},
       [](L& l, C& c) {
         EXPECT_TRUE(l.GoToPreposition("Gate", 1));
         EXPECT_FALSE(l.DeletePreposition("") || l.DeletePreposition("Pier"));
         c.canDelete = false;
         EXPECT_FALSE(l.DeletePreposition("Door"));
         c.canDelete = true;
         c.deletes = false;
         EXPECT_FALSE(l.DeletePreposition("Door"));
         c.deletes = true;
         EXPECT_TRUE(l.DeletePreposition("Door"));
       },
       {"Gate"}, "", {"recall 1 Gate", "delete 0 Door", "delete 0 Door"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedComm comm;
    comm.presets = c.presets;
    CPrepositionList list(3);
    list.SetComm(&comm);
    ASSERT_TRUE(list.Refresh());
    c.act(list, comm);
    std::vector<std::string> shown(static_cast<std::size_t>(list.GetCount()));
    for (std::size_t p = 0; p < shown.size(); ++p) {
      EXPECT_TRUE(list.GetNameAt(static_cast<std::uint32_t>(p), shown[p]));
    }
    EXPECT_EQ(shown, c.shown);
    std::string current;
    EXPECT_EQ(list.GetCurrentName(current), !c.current.empty());
    EXPECT_EQ(current, c.current);
    EXPECT_EQ(comm.calls, c.calls);
  }
}

}  // namespace
}  // namespace quorvel
