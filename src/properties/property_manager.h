// The registry this system uses: on construction it loads the property files
// (PropertyFileStore) and defines three built-in properties; a property added
// to it takes its stored value and from then on has every change of value
// written to the main archive.
//
// Lock order: managerLock before storeLock before indexLock before groupsLock,
// and managerLock before the archive's own lock. The construction takes
// storeLock before indexLock too, because the load takes storeLock again
// around its legacy-only properties while indexLock is held.
#ifndef FWSETUP_PROPERTIES_PROPERTY_MANAGER_H
#define FWSETUP_PROPERTIES_PROPERTY_MANAGER_H

#include <deque>
#include <memory>

#include "platform/types.h"
#include "properties/property_file_store.h"
#include "properties/property_registry.h"
#include "runtime/event_flags.h"
#include "runtime/orvel_mutex.h"
#include "runtime/thread.h"
#include "runtime/thread_factory.h"

class PropertyManager : public PropertyRegistry {
  public:
    // Bits of the worker's events.
    static const uint32_t kWorkQueued = 1;
    static const uint32_t kStopWorker = 2;

    // Loads the property files (recording the outcome in the loading-error
    // property), then adds the two file-name properties and registers the
    // loading error. The worker thread is made at workerPriority but not started.
    PropertyManager(std::shared_ptr<ThreadFactory> factory, int32_t workerPriority,
                    int32_t saverPriority, const WString& mainPath, const WString& overridePath);
    // Lets go of the added properties, then the store, whose archives write
    // every requested save before their savers end.
    ~PropertyManager();

    // Registers the property; when that works, the archive's stored value
    // replaces its own without an event, and a listener writes every later
    // change into the main archive. False when its key is taken.
    bool AddProperty(std::shared_ptr<Property> property);

    // Queue a removal for the worker; done (if any) is Set(1) once it is made.
    virtual void RemoveProperty(std::shared_ptr<Property> property,
                                std::shared_ptr<EventFlags> done);
    virtual void RemoveGroup(NString groupId, std::shared_ptr<EventFlags> done);
    // False; does nothing.
    virtual bool Discard(std::shared_ptr<Property> property);

    std::shared_ptr<Property> LoadingError() const { return loadingError_; }
    std::shared_ptr<Property> PropertyFileName() const { return propertyFileName_; }
    std::shared_ptr<Property> OverrideFileName() const { return overrideFileName_; }
    PropertyFileStore& Store() { return store_; }
    // The worker thread (never started by anything in this system).
    Thread& Worker() { return *worker_; }

  private:
    struct RemovalRequest {
        RemovalRequest(const NString& k, std::shared_ptr<EventFlags> d) : key(k), done(d) {}
        NString key;
        std::shared_ptr<EventFlags> done;
    };

    static uint32_t WorkerLoop(void* param);
    // The archive listener.
    void StoreChange(std::shared_ptr<Property> property);

    OrvelMutex queueLock_;
    std::deque<RemovalRequest> removalQueue_;
    std::unique_ptr<EventFlags> workerEvents_;
    std::shared_ptr<Thread> worker_;
    PropertyList properties_;
    OrvelMutex managerLock_;
    std::shared_ptr<Property> loadingError_;
    std::shared_ptr<Property> propertyFileName_;
    std::shared_ptr<Property> overrideFileName_;
    WString mainPath_;
    WString overridePath_;
    PropertyFileStore store_;
};

#endif
