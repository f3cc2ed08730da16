// Small port plug-ins for the discovery tests. One source, built several times with a
// different behaviour chosen by PLUGIN_KIND:
//   1 a usable interface named PLUGIN_NAME     2 no GetPivraInterfaceW export
//   3 Check returns 0                          4 the entry returns null
#include "port/PortTables.h"

#ifndef PLUGIN_NAME
#define PLUGIN_NAME u"Test IF"
#endif

namespace {

int g_entryCalls = 0;

int32_t Check() {
    return PLUGIN_KIND == 3 ? 0 : 1;
}
const char16_t* Name() {
    return PLUGIN_NAME;
}
int32_t Dialog() {
    return 0;
}
const char16_t* PortName() {
    return u"TestPort";
}
const char16_t* Description() {
    return u"test port";
}
int32_t Zero() {
    return 0;
}
void Nothing() {}
int32_t Send(const uint8_t*, uint32_t) {
    return 0;
}
int32_t SetCb(ReceiveCallback cb, void*) {
    return cb ? 0 : 3;
}
int32_t SetTo(int32_t) {
    return 0;
}
int32_t GetTo(int32_t* ms) {
    return ms ? 0 : 3;
}
uint32_t Baud() {
    return 115200;
}
PortOpTable g_ops = {Zero, Nothing, Zero, Nothing, Send, SetCb, SetTo, GetTo, Zero, Baud};
PortOpTable* Ops() {
    return &g_ops;
}
[[maybe_unused]] InterfaceTable g_table = {Check, Name, Dialog, PortName, Ops, Description};

} // namespace

extern "C" {
#if PLUGIN_KIND != 2
__attribute__((visibility("default"))) InterfaceTable* GetPivraInterfaceW(PortParamBlock* params) {
    ++g_entryCalls;
    if (PLUGIN_KIND == 4 || !params)
        return nullptr;
    return &g_table;
}
#endif
// How many times the entry ran: lets a test see that a module stayed loaded.
__attribute__((visibility("default"))) int TestPluginEntryCalls() {
    return g_entryCalls;
}
}
