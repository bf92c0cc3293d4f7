// The placeholder record on the file itself: identities of every length and kind read back whole,
// and short ones stay inside the inode.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "cf_item.h"
#include "cf_record_codec.h"
#include "cf_test_support.h"
#include "support/test_env.h"

namespace nimbrel::test::cf {
namespace {

namespace pcf = nimbrel::platform::cf;

class CloudFilesRecord : public RegisteredRootTest {
protected:
    std::string attribute(const std::string& name) {
        char value[256];
        const ssize_t n = ::getxattr((root + "/" + name).c_str(), pcf::kRecordAttribute, value, sizeof(value));
        return n > 0 ? std::string(value, static_cast<std::size_t>(n)) : std::string();
    }
};

// The reference client's ids are 24 ASCII characters, with or without their NUL. An identity the
// file cannot carry in its inode is kept in the store; either way a dehydrated placeholder takes no
// block.
TEST_F(CloudFilesRecord, IdentitiesReadBackWholeAndOnlyThoseTooLongForTheInodeGoToTheStore) {
    const std::string id24 = identityOf(u"0123456789abcdefghijklmn");
    ASSERT_EQ(createPlaceholder(root, "ascii24", 0, id24), S_OK);
    // The bytes beside a packed identity of 25 units and its length: an unpackable identity of the
    // rest of the inode's room is the longest that fits.
    const std::size_t room = pcf::kRecordInInode - (attribute("ascii24").size() - 25 - 1) - 1;
    struct Case {
        std::string name;
        std::string identity;
        bool spilled;
    };
    const Case cases[] = {
        {"ascii24", id24, false},
        {"ascii24-no-nul", id24.substr(0, 48), false},
        {"unit-7f", identityOf(u"\u007f23456789abcdefghijklmn"), false},
        {"unit-80", identityOf(u"\u008023456789abcdefghijklmn"), true},
        {"non-ascii", identityOf(u"\u00e9\u4e2d3456789abcdefghijklmn"), true},
        {"fits", std::string(room, 'x'), false},
        {"one-more", std::string(room + 1, 'x'), true},
        {"longest", std::string(CF_PLACEHOLDER_MAX_FILE_IDENTITY_LENGTH, 'x'), true},
    };
    for (const auto& c : cases) {
        const std::string path = root + "/" + c.name;
        if (c.name != "ascii24") {
            ASSERT_EQ(createPlaceholder(root, c.name, 8192, c.identity), S_OK) << c.name;
        }
        EXPECT_EQ(placeholderInfo(path).identity, c.identity) << c.name;
        const std::string value = attribute(c.name);
        ASSERT_GT(value.size(), 2u) << c.name;
        EXPECT_LE(value.size(), pcf::kRecordInInode) << c.name;
        EXPECT_EQ(value[2] == 2, c.spilled) << c.name << ": identity form " << int(value[2]);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_blocks, 0) << c.name;
        // A new identity replaces the one the store kept, and the other way round.
        const std::string next = c.spilled ? identityOf(u"short") : std::string(300, 'n');
        Handle handle(path);
        ASSERT_EQ(CfUpdatePlaceholder(handle.get(), nullptr, next.data(), static_cast<DWORD>(next.size()), nullptr, 0,
                                      CF_UPDATE_FLAG_NONE, nullptr, nullptr),
                  S_OK)
            << c.name;
        EXPECT_EQ(placeholderInfo(path).identity, next) << c.name;
    }
}

}  // namespace
}  // namespace nimbrel::test::cf
