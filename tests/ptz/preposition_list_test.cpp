// The preset list with a scripted command channel: name rules, positions
// and slots, recall, add and delete with their refusals and log lines.
#include "ptz/preposition_list.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// A command channel whose presets and answers the test sets.
class ScriptedComm : public IPrepositionComm {
 public:
  void DebugMessage(int level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    log.push_back({level, buffer});
  }
  bool SavePreset(std::uint32_t index, const std::string& name) override {
    saved.push_back({index, name});
    return saveResult;
  }
  bool RecallPreset(std::uint32_t position, const std::string& name, std::uint32_t) override {
    if (throwOnRecall) throw std::runtime_error("recall");
    recalled.push_back({position, name});
    return recallResult;
  }
  bool DeletePreset(std::uint32_t position, const std::string& name) override {
    deleted.push_back({position, name});
    return deleteResult;
  }
  bool LoadPresets(std::vector<PresetEntry>& list) override {
    list.insert(list.end(), presets.begin(), presets.end());
    return loadResult;
  }
  bool CanSavePresets() const override { return canSave; }
  bool CanDeletePresets() const override { return canDelete; }

  std::vector<PresetEntry> presets;
  bool loadResult = true;
  bool recallResult = true;
  bool saveResult = true;
  bool deleteResult = true;
  bool canSave = true;
  bool canDelete = true;
  bool throwOnRecall = false;
  std::vector<std::pair<int, std::string>> log;
  std::vector<std::pair<std::uint32_t, std::string>> saved;
  std::vector<std::pair<std::uint32_t, std::string>> recalled;
  std::vector<std::pair<std::uint32_t, std::string>> deleted;
};

std::vector<std::string> Shown(CPrepositionList& list) {
  std::vector<std::string> names;
  std::string name;
  for (int p = 0; p < list.GetCount(); ++p) {
    EXPECT_TRUE(list.GetNameAt(static_cast<std::uint32_t>(p), name));
    names.push_back(name);
  }
  return names;
}

std::string Current(CPrepositionList& list) {
  std::string name;
  return list.GetCurrentName(name) ? name : "<none>";
}

class PrepositionListTest : public ::testing::Test {
 protected:
  void Load(std::vector<PresetEntry> presets) {
    comm.presets = std::move(presets);
    list.SetComm(&comm);
    ASSERT_TRUE(list.Refresh());
  }

  ScriptedComm comm;
  CPrepositionList list{3};
};

TEST(PrepositionListNameTest, ForbidsTheSixXmlCharactersAndTheEmptyName) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"Door 2", true}, {"", false},   {"A&B", false},      {"Don't", false},
      {"Go!", false},   {"<a", false}, {"a>", false},       {"say \"x\"", false},
      {"50%", true},    {" ", true},   {"Tür\tNord", true}, {"a;b/c", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(CPrepositionList::IsValidName(c.first), c.second);
  }
}

TEST_F(PrepositionListTest, RefreshShowsNamedSlotsInListOrderAndSetsTheLimit) {
  Load({{"Door", 0}, {"", 1}, {"Gate", 2}});
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_EQ(list.GetLimit(), 2u);
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Door", "Gate"}));
  std::string name = "stale";
  EXPECT_FALSE(list.GetNameAt(2, name));
  EXPECT_EQ(name, "");
  EXPECT_EQ(Current(list), "<none>");
}

TEST_F(PrepositionListTest, AnIndexListedTwiceKeepsTheLaterNameAndIsShownTwice) {
  Load({{"Door", 4}, {"Gate", 4}, {"Yard", 1}});
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Gate", "Gate", "Yard"}));
  EXPECT_EQ(list.GetLimit(), 3u);
}

TEST_F(PrepositionListTest, RefreshEmptiesTheListFirstAndFailsWithoutAComm) {
  Load({{"Door", 0}});
  ASSERT_TRUE(list.GoToPreposition("Door", 1));
  comm.loadResult = false;
  EXPECT_FALSE(list.Refresh());
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(Current(list), "<none>");

  CPrepositionList unconnected(0);
  EXPECT_FALSE(unconnected.Refresh());
  EXPECT_FALSE(unconnected.GoToPreposition("Door", 1));
  EXPECT_FALSE(unconnected.DeletePreposition("Door"));
  EXPECT_EQ(unconnected.AddPreposition("Door"), -18);
}

TEST_F(PrepositionListTest, RecallFindsTheLowestIndexWithTheExactNameAndMakesItCurrent) {
  Load({{"Gate", 5}, {"gate", 1}, {"Gate", 2}, {"Door", 0}});
  // Shown: Gate(5), gate(1), Gate(2), Door(0); the lowest index named "Gate"
  // is 2, shown at position 2.
  ASSERT_TRUE(list.GoToPreposition("Gate", 9));
  ASSERT_EQ(comm.recalled.size(), 1u);
  EXPECT_EQ(comm.recalled[0], (std::pair<std::uint32_t, std::string>{2, "Gate"}));
  EXPECT_EQ(Current(list), "Gate");

  EXPECT_FALSE(list.GoToPreposition("GATE", 1));
  EXPECT_FALSE(list.GoToPreposition("Gat", 1));
  EXPECT_FALSE(list.GoToPreposition("", 1));
  EXPECT_EQ(comm.recalled.size(), 1u);

  list.ClearCurrent();
  EXPECT_EQ(Current(list), "<none>");
}

TEST_F(PrepositionListTest, AFailedOrThrowingRecallLeavesTheCurrentPreset) {
  Load({{"Door", 0}, {"Gate", 1}});
  ASSERT_TRUE(list.GoToPreposition("Door", 1));
  comm.recallResult = false;
  EXPECT_FALSE(list.GoToPreposition("Gate", 1));
  EXPECT_EQ(Current(list), "Door");
  comm.throwOnRecall = true;
  EXPECT_FALSE(list.GoToPreposition("Gate", 1));
  EXPECT_EQ(Current(list), "Door");
}

TEST_F(PrepositionListTest, AddRightAfterConstructionIsRefusedAsFullWithLimitZero) {
  list.SetComm(&comm);
  EXPECT_EQ(list.AddPreposition("Pier"), -26);
  ASSERT_EQ(comm.log.size(), 1u);
  EXPECT_EQ(comm.log[0].first, 1);
  EXPECT_EQ(comm.log[0].second,
            "quorvel::CPrepositionList::AddPreposition: A preposition \"Pier\" cannot be added. "
            "Camera supports saving not more than 0 prepositions.");
  EXPECT_TRUE(comm.saved.empty());
}

TEST_F(PrepositionListTest, AnInvalidNameIsLoggedAsTextAndRefused) {
  Load({{"Door", 0}});
  EXPECT_EQ(list.AddPreposition("100% <sure>"), -3);
  ASSERT_EQ(comm.log.size(), 1u);
  EXPECT_EQ(comm.log[0].first, 1);
  EXPECT_EQ(comm.log[0].second,
            "quorvel::CPrepositionList::AddPreposition: A preposition \"100% <sure>\" cannot be "
            "added - the name is invalid.");
}

TEST_F(PrepositionListTest, AddFillsTheFirstFreeSlotThatSavesAndMakesItCurrent) {
  Load({{"Door", 0}, {"Gate", 1}, {"", 2}, {"", 3}, {"Yard", 4}});
  // Limit 3 with 3 shown: full until one goes.
  EXPECT_EQ(list.AddPreposition("Pier"), -26);
  ASSERT_TRUE(list.DeletePreposition("Gate"));
  ASSERT_EQ(comm.deleted.size(), 1u);
  EXPECT_EQ(comm.deleted[0], (std::pair<std::uint32_t, std::string>{1, "Gate"}));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Door", "Yard"}));

  comm.saved.clear();
  comm.saveResult = true;
  EXPECT_EQ(list.AddPreposition("Pier"), 1);
  ASSERT_EQ(comm.saved.size(), 1u);
  EXPECT_EQ(comm.saved[0], (std::pair<std::uint32_t, std::string>{1, "Pier"}));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Door", "Yard", "Pier"}));
  EXPECT_EQ(Current(list), "Pier");
}

TEST_F(PrepositionListTest, AddWithoutASavingCommIsNotPossible) {
  Load({{"Door", 0}, {"Gate", 1}, {"", 2}});
  ASSERT_TRUE(list.DeletePreposition("Door"));
  comm.saveResult = false;
  EXPECT_EQ(list.AddPreposition("Pier"), -18);
  EXPECT_EQ(comm.saved.size(), 2u);  // slots 0 and 2 were tried
  comm.canSave = false;
  comm.saved.clear();
  EXPECT_EQ(list.AddPreposition("Pier"), -18);
  EXPECT_TRUE(comm.saved.empty());
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Gate"}));
}

TEST_F(PrepositionListTest, DeleteNeedsAKnownNameAndACommThatDeletes) {
  Load({{"Door", 0}, {"Gate", 1}});
  ASSERT_TRUE(list.GoToPreposition("Gate", 1));
  EXPECT_FALSE(list.DeletePreposition(""));
  EXPECT_FALSE(list.DeletePreposition("Pier"));
  comm.canDelete = false;
  EXPECT_FALSE(list.DeletePreposition("Door"));
  comm.canDelete = true;
  comm.deleteResult = false;
  EXPECT_FALSE(list.DeletePreposition("Door"));
  EXPECT_EQ(comm.deleted.size(), 1u);
  EXPECT_EQ(Current(list), "Gate");

  comm.deleteResult = true;
  EXPECT_TRUE(list.DeletePreposition("Door"));
  EXPECT_EQ(Shown(list), (std::vector<std::string>{"Gate"}));
  EXPECT_EQ(Current(list), "<none>");
}

}  // namespace
}  // namespace quorvel
