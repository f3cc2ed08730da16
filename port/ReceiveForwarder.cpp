#include "port/ReceiveForwarder.h"

void clReceiveForwarder::Deliver(const uint8_t* bytes, uint32_t length, void* user) {
    auto* self = static_cast<clReceiveForwarder*>(user);
    if (!self)
        return;
    std::lock_guard<std::mutex> guard(self->m_lock);
    if (self->m_target)
        self->m_target(bytes, length, self->m_user);
}

void clReceiveForwarder::Arm(ReceiveCallback target, void* user) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_target = target;
    m_user = user;
}

void clReceiveForwarder::Disarm() {
    Arm(nullptr, nullptr);
}
