#include <gtest/gtest.h>

#include <string>

#include "install/updater_identity.h"

namespace {

const std::string P1(64, 'a'), P2(64, 'b'), P3(64, 'c'), K1(64, '1'), K2(64, '2'), K3(64, '3');

UpdaterIdentity Id(std::vector<std::string> pins, std::vector<std::string> keys,
                   const char* host = "updates.example", const char* port = "443") {
    return {"1.1.0.0", host, port, std::move(pins), std::move(keys)};
}

TEST(SelfCheckAnswer, ReadsBackOnlyItsExactForm) {
    const UpdaterIdentity full = Id({P1, P2}, {K1});
    const std::string text = FormatSelfCheckAnswer(full);
    EXPECT_EQ(text, "version=1.1.0.0\nhost=updates.example\nport=443\npins=" + P1 + "," + P2 +
                        "\nrelease_keys=" + K1 + "\n");
    const auto back = ParseSelfCheckAnswer(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pins, full.pins);
    EXPECT_EQ(back->releaseKeys, full.releaseKeys);
    EXPECT_TRUE(ParseSelfCheckAnswer(FormatSelfCheckAnswer(Id({P1}, {}))));
    const std::string refused[] = {
        "version=1.1.0.0\n",  // an updater from before identities
        text + "extra=1\n",
        text.substr(0, text.size() - 1),
        "x" + text,
        "version=1.1.0.0\nhost=h\nport=1\npins=\nrelease_keys=\n",
        "version=1.1.0.0\nhost=h\nport=1\npins=" + P1 + ",\nrelease_keys=\n",
        "version=1.1.0.0\nhost=h\nport=1\npins=" + std::string(64, 'A') + "\nrelease_keys=\n",
        "version=1.1.0.0\nhost=h\nport=1\npins=" + P1 + "\nrelease_keys=" + K1.substr(1) + "\n",
        "version=1.1.0.0\nport=1\nhost=h\npins=" + P1 + "\nrelease_keys=\n",
    };
    for (const std::string& answer : refused) {
        EXPECT_FALSE(ParseSelfCheckAnswer(answer)) << answer;
    }
}

TEST(MayReplace, SameIdentityOrASignedHandOver) {
    const UpdaterIdentity signedOne = Id({P1, P2}, {K1});
    const UpdaterIdentity unsignedOne = Id({P1, P2}, {});
    const std::tuple<const char*, UpdaterIdentity, UpdaterIdentity, bool> cases[] = {
        {"the same", signedOne, Id({P2, P1}, {K1}), true},
        {"the same, unsigned", unsignedOne, Id({P1, P2}, {}), true},
        {"another host", signedOne, Id({P1, P2}, {K1}, "other.example"), false},
        {"another port", signedOne, Id({P1, P2}, {K1}, "updates.example", "8443"), false},
        {"another pin", signedOne, Id({P3}, {K1}), false},
        {"another release key", signedOne, Id({P1, P2}, {K3}), false},
        {"no release key", signedOne, unsignedOne, false},
        {"hand-over: one pin and one key shared", signedOne, Id({P1, P3}, {K1, K2}), true},
        {"hand-over completed: the next key only", Id({P1, P3}, {K1, K2}), Id({P1, P3}, {K2}),
         true},
        {"an unsigned build gains pins", unsignedOne, Id({P1, P3}, {}), false},
        {"an unsigned build gains a key", unsignedOne, Id({P1, P2}, {K1}), false},
    };
    for (const auto& [name, running, candidate, accepted] : cases) {
        EXPECT_EQ(MayReplace(running, candidate), accepted) << name;
    }
}

}  // namespace
