#pragma once
// Runs a test once with SQLite and once with PostgreSQL. The PostgreSQL run starts a
// cluster of its own on a loopback port and is skipped, saying why, when PostgreSQL is
// not installed.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/store.h"
#include "tests/server/service_testkit.h"

enum class Backend { Sqlite, Postgres };

inline std::string backendName(const testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL";
}

class BackendTest : public testing::TestWithParam<Backend> {
protected:
    static void TearDownTestSuite() { cluster().reset(); }

    void SetUp() override {
        if (GetParam() == Backend::Sqlite) {
            url_ = "sqlite:" + dir_.file("results.db");
            return;
        }
        if (!cluster()) {
            std::string why;
            bool notInstalled = false;
            cluster() = testkit::PostgresCluster::start(&why, &notInstalled);
            if (!cluster()) {
                if (notInstalled) GTEST_SKIP() << "PostgreSQL tests skipped: " << why;
                FAIL() << "PostgreSQL is installed but the test cluster did not start:\n" << why;
            }
        }
        static int counter = 0;
        url_ = cluster()->createDatabase("test_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
        ASSERT_FALSE(url_.empty()) << "createdb failed";
    }

    // The store opened directly, to see what the service wrote.
    std::unique_ptr<ResultStore> openStore() const {
        std::string why;
        auto store = openResultStore(url_, &why);
        EXPECT_TRUE(store) << why;
        return store;
    }

    testkit::ServiceProcess::Config config(bool tls = false, unsigned rateLimit = 0) const {
        return {url_, tls, rateLimit, {}};
    }

    static std::unique_ptr<testkit::PostgresCluster>& cluster() {
        static std::unique_ptr<testkit::PostgresCluster> instance;
        return instance;
    }

    testkit::TempDir dir_;
    std::string url_;
};

inline void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Sqlite ? "SQLite" : "PostgreSQL");
}
