#include "base/SimpleLog.h"
#include "support/ScriptedCamera.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Delivery {
    uint64_t offset; // of the bytes within the staging buffer
    std::string bytes;
};

struct Sink {
    clCamPort* port = nullptr;
    std::mutex lock;
    std::vector<Delivery> got;
    static void Callback(const uint8_t* bytes, uint32_t length, void* user) {
        auto* self = static_cast<Sink*>(user);
        std::lock_guard<std::mutex> g(self->lock);
        self->got.push_back({static_cast<uint64_t>(bytes - self->port->staging.get()),
                             std::string(reinterpret_cast<const char*>(bytes), length)});
    }
};

void NoOp(const uint8_t*, uint32_t, void*) {}

} // namespace

TEST(CamPort, BaseOperations) {
    clScriptedCamera port;
    Sink a, b;
    EXPECT_EQ(port.SetReceiveCallback(&Sink::Callback, &a), 0);
    // A null callback is refused, with or without a user, and the stored pair is kept: the
    // published contract, which the host does not rely on ports to break.
    for (void* user : {static_cast<void*>(&b), static_cast<void*>(nullptr)}) {
        EXPECT_EQ(port.SetReceiveCallback(nullptr, user), 3);
        EXPECT_EQ(port.callback, &Sink::Callback);
        EXPECT_EQ(port.callbackUser, &a);
    }
    EXPECT_EQ(port.GetSendTimeout(nullptr), 3);
    int32_t t = 0;
    EXPECT_EQ(port.SetSendTimeout(1234), 0);
    EXPECT_EQ(port.GetSendTimeout(&t), 0);
    EXPECT_EQ(t, 1234);
    EXPECT_EQ(port.clCamPort::GetBaudRate(), 0u);
    EXPECT_EQ(port.Reserved(), 0);
    port.settingsSection.assign(3, u'S');
    EXPECT_EQ(port.Reset(), 0);
    EXPECT_EQ(port.sendTimeout, 20000);
    EXPECT_EQ(port.callback, nullptr);
    EXPECT_EQ(port.callbackUser, nullptr);
    EXPECT_TRUE(port.settingsSection.empty());
}

TEST(CamPort, DeliveryNeverWrapsAChunk) {
    clScriptedCamera port;
    Sink sink;
    sink.port = &port;
    port.SetReceiveCallback(&Sink::Callback, &sink);
    ASSERT_EQ(port.Init(), 0);
    EXPECT_EQ(port.stagingRing.Capacity(), 3072u);
    port.stagingRing.SetPosition(3000);
    std::string chunk(200, 'a');
    chunk[72] = 'b';
    port.DeliverReceived(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
    ASSERT_EQ(sink.got.size(), 2u);
    EXPECT_EQ(sink.got[0].offset, 3000u);
    EXPECT_EQ(sink.got[0].bytes.size(), 72u);
    EXPECT_EQ(sink.got[1].offset, 0u);
    EXPECT_EQ(sink.got[1].bytes, chunk.substr(72));
    EXPECT_EQ(port.stagingRing.Position(), 128u);
    EXPECT_EQ(port.totalReceived, 200u);

    sink.got.clear();
    port.DeliverReceived(reinterpret_cast<const uint8_t*>(chunk.data()), 0); // never delivered
    std::string big(7000, 'z');
    port.DeliverReceived(reinterpret_cast<const uint8_t*>(big.data()), big.size());
    ASSERT_EQ(sink.got.size(), 3u);
    EXPECT_EQ(sink.got[0].bytes.size(), 3072u - 128u);
    EXPECT_EQ(sink.got[1].bytes.size(), 3072u);
    EXPECT_EQ(port.totalReceived, 7200u);
    port.Uninit();
    port.Uninit(); // a second release does nothing
    EXPECT_EQ(port.staging, nullptr);
}

TEST(PortPlugIn, ForwardsEveryOperationToTheTable) {
    TempDir dir;
    clSimpleLog log(dir.file("log.txt"));
    clCamCtrl ctrl{&log, u""};
    clScriptedCamera camera(&ctrl);
    clPortPlugIn host(&ctrl);
    Sink sink;
    sink.port = &camera;

    host.opTable = ScriptedCameraTable(&camera);
    EXPECT_EQ(host.SetReceiveCallback(&Sink::Callback, &sink), 0);
    EXPECT_EQ(camera.callbackUser, &sink);
    EXPECT_EQ(host.Init(), 0);
    EXPECT_EQ(host.Connect(), 0);
    EXPECT_EQ(host.IsConnected(), 1);
    EXPECT_EQ(host.Connect(), 1); // already connected: nothing changes
    EXPECT_EQ(host.GetBaudRate(), 9600u);
    EXPECT_EQ(host.SetSendTimeout(500), 0);
    int32_t t = 0;
    EXPECT_EQ(host.GetSendTimeout(&t), 0);
    EXPECT_EQ(t, 500);
    EXPECT_EQ(host.sendTimeout, 20000); // the host object's own field is not the port's

    // The first connection keeps working: a command is answered through the callback.
    camera.Expect({{0, "pong"}});
    EXPECT_EQ(host.SendData(reinterpret_cast<const uint8_t*>("ping"), 4), 0);
    ASSERT_TRUE(camera.WaitDelivered());
    {
        std::lock_guard<std::mutex> g(sink.lock);
        ASSERT_EQ(sink.got.size(), 1u);
        EXPECT_EQ(sink.got[0].bytes, "pong");
    }
    EXPECT_EQ(camera.Wire(), "ping");
    host.Disconnect();
    EXPECT_EQ(host.IsConnected(), 0);
    host.Uninit();
    EXPECT_EQ(camera.uninitCalls, 1);
}

TEST(PortPlugIn, WithoutTableNothingHappens) {
    clPortPlugIn host;
    EXPECT_EQ(host.Init(), 1);
    EXPECT_EQ(host.Connect(), 1);
    EXPECT_EQ(host.SendData(reinterpret_cast<const uint8_t*>("x"), 1), 1);
    EXPECT_EQ(host.SetReceiveCallback(nullptr, nullptr), 3);
    EXPECT_EQ(host.SetReceiveCallback(&NoOp, nullptr), 1);
    EXPECT_EQ(host.GetSendTimeout(nullptr), 3);
    EXPECT_EQ(host.IsConnected(), 0);
    EXPECT_EQ(host.GetBaudRate(), 0u);
    host.Disconnect();
    host.Uninit();
}

TEST(CamPort, DisconnectAndUninitOfAPortThatNeverConnected) {
    clScriptedCamera port;
    port.Disconnect();
    port.Uninit();
    EXPECT_EQ(port.IsConnected(), 0);
    EXPECT_EQ(port.StartReceiveThread([] {}), 1); // Init has not run
}

TEST(CamPort, ConnectAfterDisconnectStartsAFreshReceiveThread) {
    clScriptedCamera port;
    Sink sink;
    sink.port = &port;
    port.SetReceiveCallback(&Sink::Callback, &sink);
    ASSERT_EQ(port.Init(), 0);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(port.Connect(), 0);
        EXPECT_EQ(port.totalReceived, 0u);
        EXPECT_EQ(port.stagingRing.Position(), 0u);
        port.Inject("abc");
        ASSERT_TRUE(port.WaitDelivered());
        port.Disconnect();
        EXPECT_FALSE(port.stopEvent->IsSignalled());
    }
    EXPECT_EQ(sink.got.size(), 3u);
}
