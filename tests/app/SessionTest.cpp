// The session core on its own, with the real engine, ring and worker thread: a plug-in that
// keeps its receive pair as the published contract allows.
#include "app/Session.h"

#include "base/SimpleLog.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"
#include "support/Deadline.h"
#include "support/EngineRig.h"
#include "support/ScriptedCamera.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

// A port plug-in whose one port is the scripted camera.
InterfaceTable* ScriptedInterface(clScriptedCamera* camera) {
    static PortOpTable* ops = nullptr;
    ops = ScriptedCameraTable(camera);
    static InterfaceTable table = {
        [] { return int32_t{1}; },   [] { return u"Scripted"; }, [] { return int32_t{0}; },
        [] { return u"scripted0"; }, [] { return ops; },         [] { return u""; },
    };
    return &table;
}

struct SessionRig {
    TempDir dir;
    clSimpleLog log{dir.file("Quillon_00_Log.txt")};
    RecordingEvents events;
    clSession session;

    bool Start() {
        clSession::Setup setup;
        setup.programFolder = platform::Utf8ToUtf16(dir.str() + "/");
        setup.settingsFile = platform::Utf8ToUtf16(dir.file("Quillon_00.ini"));
        setup.camDefineFolder = setup.programFolder + u"CamDefine/";
        setup.programFile = platform::ProgramFilePath();
        setup.log = &log;
        SessionSettings settings;
        settings.receiveBufferBytes = 1 << 16;
        settings.firstReceive = settings.nextReceive = 3000;
        std::string error;
        session.SetEvents(&events);
        return session.Start(setup, settings, error) && session.StartWorker(nullptr);
    }
};

} // namespace

// The published contract lets a port refuse to clear its pair (a null callback returns 3 and
// keeps it) and a plug-in may deliver on a thread of its own until it is unloaded: once the
// session has shut down, what such a port delivers must reach nothing the session freed.
TEST(Session, APortThatKeepsItsReceivePairNeverReachesTheEngineAfterShutDown) {
    clScriptedCamera camera; // the plug-in's port outlives the host's engine
    ReceiveCallback pair = nullptr;
    void* user = nullptr;
    {
        SessionRig rig;
        ASSERT_TRUE(rig.Start());
        rig.session.Interfaces().Register(ScriptedInterface(&camera), "", nullptr);
        rig.session.SelectInterface(static_cast<int32_t>(rig.session.Interfaces().Count()) - 1);
        ASSERT_EQ(rig.session.ConnectCamera(), 0);
        camera.Expect({{0, ">OK\r\n>Model=X1\r\n\x04"}});
        ASSERT_EQ(rig.session.Engine().SubmitCommandJob(u"sta"), SUBMIT_OK);
        ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
        EXPECT_EQ(rig.events.Last().replyLines, std::vector<std::u16string>{u">Model=X1"});
        // The port holds the host's pair as the contract lets it.
        EXPECT_EQ(camera.SetReceiveCallback(nullptr, nullptr), PORT_INVALID_ARGUMENT);
        pair = camera.callback;
        user = camera.callbackUser;
        ASSERT_NE(pair, nullptr);
        EXPECT_TRUE(rig.session.ShutDown());
        // A late delivery of the port's own thread, after the engine is gone.
        const uint8_t late[] = {'>', 'x', '\r', '\n'};
        pair(late, sizeof late, user);
    }
}
