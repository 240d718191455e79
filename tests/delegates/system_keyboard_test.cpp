// The keyboard of the machine the tests run on: a US layout must give the same records as
// the pad client's keys expect, whether the answers come from Windows (or Wine) or from the
// POSIX build's own US tables.
#include <gtest/gtest.h>

#include "delegates/key_injection.h"
#include "tests/delegates/delegate_test_support.h"

namespace pellvane::testing {
namespace {

using keyboard::KeyRecord;

// Asks the system's layout but keeps the records instead of injecting them.
class SystemLayoutRecorder : public keyboard::Keyboard {
  public:
    keyboard::LayoutHandle currentLayout() override { return system_->currentLayout(); }
    std::uint16_t keyForCharacter(char16_t character, keyboard::LayoutHandle layout) override {
        return system_->keyForCharacter(character, layout);
    }
    std::uint32_t scanCodeForKey(std::uint32_t virtualKey, keyboard::LayoutHandle layout) override {
        return system_->scanCodeForKey(virtualKey, layout);
    }
    std::uintptr_t messageExtraInfo() override { return system_->messageExtraInfo(); }
    void sendRecord(const KeyRecord& record) override { records.push_back(record); }
    void pause(std::uint32_t) override { ++pauses; }
    void beep(std::uint32_t, std::uint32_t) override {}

    std::vector<KeyRecord> records;
    int pauses = 0;

  private:
    std::unique_ptr<keyboard::Keyboard> system_ = keyboard::createSystemKeyboard();
};

class SystemKeyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        if ((recorder.currentLayout() & 0xFFFF) != 0x0409) {
            GTEST_SKIP() << "the input language here is not US English";
        }
    }

    std::vector<KeyRecord> inject(std::uint32_t type, const std::vector<wire::KeyEntry>& entries) {
        recorder.records.clear();
        recorder.pauses = 0;
        keys::injectKeys(nullptr, keyMessage(type, entries), recorder);
        // Unicode records carry whatever extra information the system gives; not compared.
        for (KeyRecord& record : recorder.records) {
            record.dwExtraInfo = 0;
        }
        return recorder.records;
    }

    SystemLayoutRecorder recorder;
};

KeyRecord scanRecord(std::uint16_t scan, std::uint32_t flags) {
    return {0, scan, flags, 0};
}
KeyRecord vkRecord(std::uint16_t vk, std::uint32_t flags) {
    return {vk, 0, flags, 0};
}

TEST_F(SystemKeyboard, LettersAndShiftedCharactersUseTheLayoutsScanCodes) {
    EXPECT_EQ(inject(wire::KeyDown, {character(u'A')}),
              (std::vector<KeyRecord>{scanRecord(0x2A, 0x8), scanRecord(0x1E, 0x8)}));
    EXPECT_EQ(inject(wire::KeyUp, {character(u'A')}),
              (std::vector<KeyRecord>{scanRecord(0x2A, 0xA), scanRecord(0x1E, 0xA)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u'z')}),
              (std::vector<KeyRecord>{scanRecord(0x2C, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u'!')}),
              (std::vector<KeyRecord>{scanRecord(0x2A, 0x8), scanRecord(0x02, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u' ')}),
              (std::vector<KeyRecord>{scanRecord(0x39, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u'.')}),
              (std::vector<KeyRecord>{scanRecord(0x34, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u'>')}),
              (std::vector<KeyRecord>{scanRecord(0x2A, 0x8), scanRecord(0x34, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u'?')}),
              (std::vector<KeyRecord>{scanRecord(0x2A, 0x8), scanRecord(0x35, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u'\r')}),
              (std::vector<KeyRecord>{scanRecord(0x1C, 0x8)}));
}

TEST_F(SystemKeyboard, CharacterWithoutKeyBecomesAUnicodeRecord) {
    EXPECT_EQ(inject(wire::KeyDown, {character(0x4E2D)}),
              (std::vector<KeyRecord>{scanRecord(0x4E2D, 0x4)}));
    EXPECT_EQ(inject(wire::KeyUp, {character(0x4E2D)}),
              (std::vector<KeyRecord>{scanRecord(0x4E2D, 0x6)}));
}

TEST_F(SystemKeyboard, KeyPositionsGiveTheExpectedRecords) {
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(76)}), (std::vector<KeyRecord>{scanRecord(0x1C, 0x9)}));
    EXPECT_EQ(inject(wire::KeyUp, {keyAt(72)}), (std::vector<KeyRecord>{vkRecord(0xAF, 0x3)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(130)}), (std::vector<KeyRecord>{vkRecord(0x2A, 0x0)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(43)}), (std::vector<KeyRecord>{vkRecord(0x2C, 0x1)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(10)}), (std::vector<KeyRecord>{scanRecord(0, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(123)}), (std::vector<KeyRecord>{scanRecord(0x4B, 0x9)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(53)}), (std::vector<KeyRecord>{scanRecord(0x01, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(122)}), (std::vector<KeyRecord>{scanRecord(0x3B, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(56)}), (std::vector<KeyRecord>{scanRecord(0x2A, 0x8)}));
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(60)}), (std::vector<KeyRecord>{scanRecord(0x36, 0x8)}));
}

TEST_F(SystemKeyboard, ThreeShiftedCharactersGiveSixRecordsAndFivePauses) {
    EXPECT_EQ(inject(wire::KeyDown, {character(u'P'), character(u'A'), character(u'D')}),
              (std::vector<KeyRecord>{scanRecord(0x2A, 0x8), scanRecord(0x19, 0x8),
                                      scanRecord(0x2A, 0x8), scanRecord(0x1E, 0x8),
                                      scanRecord(0x2A, 0x8), scanRecord(0x20, 0x8)}));
    EXPECT_EQ(recorder.pauses, 5);
}

}  // namespace
}  // namespace pellvane::testing
