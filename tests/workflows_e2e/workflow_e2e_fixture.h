// The fixture of the workflow end-to-end tests: the real brisel_core in the test program's private
// namespaces, with the board simulator (umockdev USB boards, WiFi boards, the fake flashing tools
// bind-mounted over /usr/local) and the fake cloud, all on this namespace's loopback.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/board_simulator.h"
#include "support/fake_cloud.h"
#include "support/service_process.h"
#include "support/simulated_flash_tools.h"
#include "support/temporary_folder.h"

namespace brisel::test {

class WorkflowEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        auto loopback = test_support::bringLoopbackUp();
        ASSERT_TRUE(loopback) << loopback.error();
        std::vector<std::string> tools;
        for (const auto name : kFlashToolNames) {
            tools.push_back(name == "openocd" ? "bin/openocd" : "opt/velko/" + std::string(name));
        }
        auto mounted =
            test_support::mountFakeUsrLocal(folder.path() / "usrlocal", BRISEL_FAKE_FLASH_TOOL, tools);
        ASSERT_TRUE(mounted) << mounted.error();
        std::filesystem::create_directories(folder.path() / "sim");
        auto created = BoardSimulator::create(folder.path() / "sim");
        ASSERT_TRUE(created) << created.error();
        simulator = std::move(*created);
        cloud = std::make_unique<FakeCloud>();
    }

    void TearDown() override {
        if (service) {
            service->stop();
            EXPECT_FALSE(service->sanitizerReported()) << service->output();
        }
    }

    // Starts brisel_core with every fixed wait at `timeScale` of its length.
    void startService(double timeScale = 0.02) {
        test_support::ServiceOptions options;
        options.executable = BRISEL_SERVICE;
        options.folder = folder.path() / "service";
        options.environment = simulator->environment();
        options.timeScale = timeScale;
        auto started = test_support::ServiceProcess::start(options);
        ASSERT_TRUE(started) << started.error();
        service = std::move(*started);
    }

    // A browser connection to the service; throws (failing the test) when none can be made.
    test_support::WebSocketTestClient browser() {
        auto client = service->connect();
        if (!client) {
            throw std::runtime_error("cannot connect to the service: " + client.error());
        }
        return std::move(*client);
    }

    // The cloud fields of a request that point the service at the fake cloud:
    // "scheme", "host", "port" and "auth_token", without braces.
    std::string cloudFields(const std::string& authToken = "token-1") const {
        return R"("scheme": "http", "host": "localhost", "port": ")" + std::to_string(cloud->port()) +
               R"(", "auth_token": ")" + authToken + R"(")";
    }

    test_support::TemporaryFolder folder;
    std::unique_ptr<BoardSimulator> simulator;
    std::unique_ptr<FakeCloud> cloud;
    std::unique_ptr<test_support::ServiceProcess> service;
};

}  // namespace brisel::test
