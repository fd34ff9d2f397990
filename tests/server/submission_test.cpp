// The service's logic without the network: the checks on a submission, the figures it
// is ranked by, the rate limit, identifiers and the command line.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "core/document.h"
#include "server/identifier.h"
#include "server/options.h"
#include "server/rank_index.h"
#include "server/rate_limiter.h"
#include "server/submission.h"
#include "tests/server/service_testkit.h"

namespace {

using testkit::salt;
using testkit::sampleInventory;

constexpr const char* kJson = "application/json; charset=utf-8";

TEST(Submission, ContentTypesThatCountAsJson) {
    for (const char* accepted : {"application/json", "application/json; charset=utf-8",
                                 "Application/JSON;charset=\"UTF-8\"", " application/json ; charset=utf8"}) {
        EXPECT_TRUE(isJsonContentType(accepted)) << accepted;
    }
    for (const char* refused : {"", "text/plain", "application/jsonp", "application/x-www-form-urlencoded",
                                "application/json; charset=latin1", "text/json"}) {
        EXPECT_FALSE(isJsonContentType(refused)) << refused;
    }
}

TEST(Submission, ValidDocumentGivesItsDigestAndFigures) {
    const SystemInventory inv = sampleInventory(7);
    const SubmissionCheck check = checkSubmission(kJson, testkit::signedDocument(inv), salt());
    ASSERT_EQ(check.status, 0) << check.detail;
    EXPECT_EQ(check.digest, computeResultDigest(inv, salt().data(), salt().size()));
    EXPECT_EQ(check.inventory, inv);
    std::uint64_t bestInteger = 0;
    for (const CpuTestResult& r : inv.score.cpu_integer) bestInteger = std::max(bestInteger, r.score);
    EXPECT_EQ(check.figures.values[0], std::int64_t(inv.score.cpu_integer[0].score));
    EXPECT_EQ(check.figures.values[1], std::int64_t(bestInteger));
    EXPECT_EQ(check.figures.values[4], std::int64_t(inv.score.gpu[0].average));
    EXPECT_EQ(check.figures.values[7], std::int64_t(inv.score.gpu[3].average));
}

TEST(Submission, ShortRunHasNoFiguresForWhatItLacks) {
    SystemInventory inv = sampleInventory();
    inv.score.cpu_float.clear();
    inv.score.gpu.resize(2);
    const SubmissionCheck check = checkSubmission(kJson, testkit::signedDocument(inv), salt());
    ASSERT_EQ(check.status, 0) << check.detail;
    EXPECT_FALSE(check.figures.values[2]);
    EXPECT_FALSE(check.figures.values[3]);
    EXPECT_TRUE(check.figures.values[5]);
    EXPECT_FALSE(check.figures.values[6]);
}

// The digest covers thread_count x score, so a 64-thread score can be moved to a
// "one thread" entry without breaking it; such a result must not be accepted.
TEST(Submission, RearrangedScoresThatKeepTheDigestAreRefused) {
    SystemInventory inv = sampleInventory();
    nlohmann::json doc = buildResultDocument(inv, salt().data(), salt().size());
    const std::uint64_t last = inv.score.cpu_integer.back().score;
    doc["score"]["cpu_integer"][10] = {{"thread_count", 1}, {"score", 64 * last}};
    inv.score.cpu_integer[10] = {1, 64 * last};
    ASSERT_EQ(doc["uuid"], computeResultDigest(inv, salt().data(), salt().size()))
        << "the forged document must still carry a valid digest for this test to mean anything";
    const SubmissionCheck check = checkSubmission(kJson, doc.dump(), salt());
    EXPECT_EQ(check.status, 400);
    EXPECT_EQ(check.sentence, refusal::kNotVerified);

    nlohmann::json scenes = buildResultDocument(sampleInventory(), salt().data(), salt().size());
    std::swap(scenes["score"]["gpu"][0]["id"], scenes["score"]["gpu"][1]["id"]);
    SystemInventory swapped = sampleInventory();
    std::swap(swapped.score.gpu[0].id, swapped.score.gpu[1].id);
    scenes["uuid"] = computeResultDigest(swapped, salt().data(), salt().size());
    EXPECT_EQ(checkSubmission(kJson, scenes.dump(), salt()).sentence, refusal::kNotVerified);
}

TEST(Submission, RepeatedMemberIsRefused) {
    std::string text = testkit::signedDocument(sampleInventory());
    // Same key twice; the last one carries the genuine value, so a last-wins reader would verify it.
    const std::string genuine = "\"windows_version\":\"Microsoft Windows 11 Pro\"";
    text.replace(text.find(genuine), genuine.size(), "\"windows_version\":\"Other\"," + genuine);
    const SubmissionCheck check = checkSubmission(kJson, text, salt());
    EXPECT_EQ(check.status, 400);
    EXPECT_EQ(check.sentence, refusal::kWrongShape);
}

// Enough values to cross several merges of the recent tail into the sorted array.
TEST(RankIndex, AgreesWithCountingAcrossMerges) {
    RankIndex index;
    RankIndex::Columns initial;
    std::vector<std::int64_t> all;
    std::mt19937 random(7);
    for (int i = 0; i < 500; ++i) all.push_back(std::int64_t(random() % 1000));
    initial[0] = all;
    std::sort(initial[0].begin(), initial[0].end());
    index.reset(initial);
    for (int i = 0; i < 5000; ++i) {
        RankFigures f;
        f.values[0] = std::int64_t(random() % 1000);
        all.push_back(*f.values[0]);
        index.add(f);
        if (i % 997 == 0 || i == 4999) {
            for (std::int64_t probe : {-1, 0, 1, 499, 500, 999, 1000}) {
                RankFigures q;
                q.values[0] = probe;
                const Standing s = index.standing(q);
                ASSERT_EQ(s.total[0], std::int64_t(all.size()));
                ASSERT_EQ(s.below[0], std::count_if(all.begin(), all.end(), [&](auto v) { return v < probe; }))
                    << "probe " << probe << " after " << all.size();
                ASSERT_EQ(s.total[1], 0);
            }
        }
    }
}

TEST(RateLimit, BurstOfTheMinuteThenOneEachInterval) {
    RateLimiter limiter(3);
    const auto t0 = RateLimiter::Clock::now();
    EXPECT_TRUE(limiter.allow("a", t0));
    EXPECT_TRUE(limiter.allow("a", t0));
    EXPECT_TRUE(limiter.allow("a", t0));
    EXPECT_FALSE(limiter.allow("a", t0));
    EXPECT_TRUE(limiter.allow("b", t0)) << "addresses are counted apart";
    EXPECT_FALSE(limiter.allow("a", t0 + std::chrono::seconds(19)));
    EXPECT_TRUE(limiter.allow("a", t0 + std::chrono::seconds(21)));
    EXPECT_FALSE(limiter.allow("a", t0 + std::chrono::seconds(22)));

    RateLimiter unlimited(0);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(unlimited.allow("a", t0));
}

TEST(RateLimit, ForwardedForCountsOnlyFromATrustedProxy) {
    const std::vector<std::string> proxies = {"127.0.0.1", "::1"};
    struct Case {
        const char* peer;
        const char* forwardedFor;
        const char* client;
    } cases[] = {
        {"127.0.0.1", "", "127.0.0.1"},
        {"127.0.0.1", "203.0.113.9", "203.0.113.9"},
        {"127.0.0.1", "1.2.3.4, 203.0.113.9 ", "203.0.113.9"},  // the proxy's own entry is the last
        {"::ffff:127.0.0.1", "203.0.113.9", "203.0.113.9"},     // a v4 proxy seen on a v6 socket
        {"::1", "2001:db8::5", "2001:db8::5"},
        {"198.51.100.7", "203.0.113.9", "198.51.100.7"},        // anyone else: the claim is ignored
        {"127.0.0.2", "203.0.113.9", "127.0.0.2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clientAddress(c.peer, c.forwardedFor, proxies), c.client) << c.peer << " / " << c.forwardedFor;
    }
    EXPECT_EQ(clientAddress("127.0.0.1", "203.0.113.9", {}), "127.0.0.1") << "no proxy named: never trusted";
}

TEST(RateLimit, Ipv6CountsPerSlash64) {
    EXPECT_EQ(rateLimitKey("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
    EXPECT_EQ(rateLimitKey("2001:0db8:0001:0002::1"), "2001:db8:1:2::/64");
    EXPECT_NE(rateLimitKey("2001:db8:1:3::1"), rateLimitKey("2001:db8:1:2::1"));
    EXPECT_EQ(rateLimitKey("203.0.113.9"), "203.0.113.9");
    EXPECT_EQ(rateLimitKey("::ffff:203.0.113.9"), "203.0.113.9");
    EXPECT_EQ(canonicalAddress("not an address"), "");

    // A whole /64 shares one bucket, however many addresses it uses.
    RateLimiter limiter(2);
    const auto t0 = RateLimiter::Clock::now();
    EXPECT_TRUE(limiter.allow(rateLimitKey("2001:db8:1:2::1"), t0));
    EXPECT_TRUE(limiter.allow(rateLimitKey("2001:db8:1:2::2"), t0));
    EXPECT_FALSE(limiter.allow(rateLimitKey("2001:db8:1:2::3"), t0));
    EXPECT_TRUE(limiter.allow(rateLimitKey("2001:db8:1:3::1"), t0));
}

TEST(Identifier, TwelveCharactersOfTheAlphabetAndDistinct) {
    std::set<std::string> seen;
    std::set<char> characters;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = newResultIdentifier();
        ASSERT_TRUE(isResultIdentifier(id)) << id;
        seen.insert(id);
        characters.insert(id.begin(), id.end());
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_EQ(characters.size(), 62u) << "every character of [0-9A-Za-z] turns up";
    EXPECT_FALSE(isResultIdentifier("abc"));
    EXPECT_FALSE(isResultIdentifier("abcdefghijk-"));
}

TEST(CommandLine, DefaultsAndValues) {
    const auto plain = parseCommandLine({"--plain-http", "--salt", testkit::saltFile()});
    ASSERT_TRUE(plain.options) << plain.message;
    EXPECT_EQ(plain.options->host, "127.0.0.1");
    EXPECT_EQ(plain.options->port, 8443);
    EXPECT_EQ(plain.options->databaseUrl, "sqlite:tallyforge-results.db");
    EXPECT_EQ(plain.options->rateLimit, 20u);
    EXPECT_EQ(plain.options->requestTimeoutSeconds, 10u);
    EXPECT_EQ(plain.options->salt, salt());

    const auto full = parseCommandLine({"--listen=[::1]:9000", "--plain-http", "--salt", testkit::saltFile(),
                                        "--database", "postgresql://u@db/results", "--rate-limit", "0",
                                        "--request-timeout", "600"});
    ASSERT_TRUE(full.options) << full.message;
    EXPECT_EQ(full.options->host, "::1");
    EXPECT_EQ(full.options->port, 9000);
    EXPECT_EQ(full.options->databaseUrl, "postgresql://u@db/results");
    EXPECT_EQ(full.options->rateLimit, 0u);
    EXPECT_EQ(full.options->requestTimeoutSeconds, 600u);
}

}  // namespace
