// A fresh simulated machine per test, with QXVeltrane loaded and its device
// given the properties its INF installs; at the end the driver is unloaded
// and the test fails on any framework contract violation or object left
// behind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kmdf/inf/inf_properties.h"
#include "kmdf/kmdfsim.h"
#include "kmdf/stub/fx_stub.h"
#include "kmdf/usermode.h"
#include "qxveltrane.h"

namespace qxtest {

namespace um = kmdfsim::um;

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kmdfsim::Reset();
        std::string error;
        ASSERT_TRUE(
            kmdfsim::DevicePropertiesFromInf(kmdfsim::VeltraneInfPath(), &infProperties_, &error))
            << error;
        kmdfsim::SetDeviceProperties(infProperties_);
        ASSERT_EQ(kmdfsim::LoadDriver(FxDriverEntry), STATUS_SUCCESS);
    }

    // The INF makes the device exclusive; the driver still has to be right
    // with several handles (an administrator can clear the property, and
    // kernel-mode opens are not held to it), so these tests lift it.
    void ShareTheDevice() {
        kmdfsim::DeviceProperties shared = infProperties_;
        shared.exclusive = false;
        kmdfsim::SetDeviceProperties(shared);
    }

    kmdfsim::DeviceProperties infProperties_;

    void TearDown() override {
        for (um::Handle* h : handles_) um::Close(h);
        kmdfsim::UnloadDriver();
        EXPECT_EQ(kmdfsim::LiveObjects(), 0u);
        EXPECT_EQ(kmdfsim::OutstandingRequests(), 0u);
        std::vector<std::string> violations = kmdfsim::Violations();
        for (const auto& v : violations) ADD_FAILURE() << "framework contract violation: " << v;
        kmdfsim::Reset();
    }

    // Starts the device and opens a handle that is closed at the end.
    um::Handle* StartAndOpen(bool openBus = true) {
        EXPECT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
        um::Handle* h = OpenHandle();
        if (h != nullptr && openBus) {
            EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
        }
        return h;
    }

    um::Handle* OpenHandle() {
        um::Handle* h = um::Open(QXSPB_DEVICE_PATH);
        EXPECT_NE(h, nullptr);
        if (h != nullptr) handles_.push_back(h);
        return h;
    }

    void CloseHandle(um::Handle* h) {
        for (size_t i = 0; i < handles_.size(); i++) {
            if (handles_[i] == h) handles_.erase(handles_.begin() + static_cast<long>(i));
        }
        um::Close(h);
    }

    std::vector<um::Handle*> handles_;
};

}  // namespace qxtest
