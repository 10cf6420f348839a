#pragma once

#include <mutex>
#include <vector>

#include "audio-hardware/AudioHardware.h"

namespace audiohw {

// The system object's listeners and the connection observer, shared by the backends.
// Deliveries are serialised; removing a listener waits for a delivery running on another
// thread, so the listener's client data may be destroyed as soon as removal returns.
class PropertyListenerRegistry {
public:
    Status add(ObjectID object, const PropertyAddress& address, PropertyListenerProc listener,
               void* clientData);
    Status remove(ObjectID object, const PropertyAddress& address, PropertyListenerProc listener,
                  void* clientData);
    void setConnectionObserver(ConnectionObserver observer);

    // Calls, on this thread, every listener registered for one of the selectors (global
    // scope, main element), once per selector, in registration order.
    void notify(const std::vector<PropertySelector>& changedSelectors);
    void notifyConnection(ServerConnection change);

private:
    struct Registration {
        PropertyAddress address;
        PropertyListenerProc listener;
        void* clientData;

        bool operator==(const Registration&) const = default;
    };

    bool isRegistered(const Registration& registration);

    // Held for a whole delivery; recursive so a listener may add, remove or notify.
    std::recursive_mutex deliveryMutex_;
    std::mutex mutex_;  // guards the two fields below
    std::vector<Registration> registrations_;
    ConnectionObserver observer_;
};

}  // namespace audiohw
