#include "audio-hardware/PropertyListenerRegistry.h"

#include <algorithm>
#include <utility>

namespace audiohw {

namespace {

constexpr PropertySelector kWildcard = fourCharCode("****");
constexpr PropertyElement kElementWildcard = 0xFFFFFFFF;

bool matches(const PropertyAddress& registered, const PropertyAddress& changed) {
    return (registered.selector == changed.selector || registered.selector == kWildcard) &&
           (registered.scope == changed.scope || registered.scope == kWildcard) &&
           (registered.element == changed.element || registered.element == kElementWildcard);
}

}  // namespace

Status PropertyListenerRegistry::add(ObjectID object, const PropertyAddress& address,
                                     PropertyListenerProc listener, void* clientData) {
    if (object != kSystemObject) return kErrorBadObject;
    if (listener == nullptr) return kErrorIllegalOperation;
    std::lock_guard lock(mutex_);
    const Registration registration{address, listener, clientData};
    if (std::find(registrations_.begin(), registrations_.end(), registration) == registrations_.end()) {
        registrations_.push_back(registration);
    }
    return kNoError;
}

Status PropertyListenerRegistry::remove(ObjectID object, const PropertyAddress& address,
                                        PropertyListenerProc listener, void* clientData) {
    if (object != kSystemObject) return kErrorBadObject;
    std::lock_guard delivery(deliveryMutex_);
    std::lock_guard lock(mutex_);
    const auto found = std::find(registrations_.begin(), registrations_.end(),
                                 Registration{address, listener, clientData});
    if (found == registrations_.end()) return kErrorIllegalOperation;
    registrations_.erase(found);
    return kNoError;
}

void PropertyListenerRegistry::setConnectionObserver(ConnectionObserver observer) {
    ConnectionObserver previous;
    {
        std::lock_guard delivery(deliveryMutex_);
        std::lock_guard lock(mutex_);
        previous = std::exchange(observer_, std::move(observer));
    }
    // `previous` may own things whose destruction takes locks of the caller: drop it unlocked.
}

bool PropertyListenerRegistry::isRegistered(const Registration& registration) {
    std::lock_guard lock(mutex_);
    return std::find(registrations_.begin(), registrations_.end(), registration) != registrations_.end();
}

void PropertyListenerRegistry::notify(const std::vector<PropertySelector>& changedSelectors) {
    std::lock_guard delivery(deliveryMutex_);
    for (const PropertySelector selector : changedSelectors) {
        const PropertyAddress changed{selector, kScopeGlobal, kElementMain};
        std::vector<Registration> targets;
        {
            std::lock_guard lock(mutex_);
            for (const Registration& registration : registrations_) {
                if (matches(registration.address, changed)) targets.push_back(registration);
            }
        }
        for (const Registration& target : targets) {
            // An earlier listener of this round may have removed this one.
            if (isRegistered(target)) target.listener(kSystemObject, 1, &changed, target.clientData);
        }
    }
}

void PropertyListenerRegistry::notifyConnection(ServerConnection change) {
    std::lock_guard delivery(deliveryMutex_);
    ConnectionObserver observer;
    {
        std::lock_guard lock(mutex_);
        observer = observer_;
    }
    if (observer) observer(change);
}

}  // namespace audiohw
