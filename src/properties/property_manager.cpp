#include "properties/property_manager.h"

#include <mutex>

#include "fileutil/string_operation.h"
#include "properties/bool_property.h"
#include "properties/property_catalogue.h"
#include "properties/string_property.h"

namespace {

// Each code unit cut to its low byte: exact for the ASCII paths in use.
NString Narrow(const WString& wide) {
    NString narrow;
    narrow.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i)
        narrow.push_back(static_cast<char>(wide[i] & 0xFF));
    return narrow;
}

}  // namespace

PropertyManager::PropertyManager(std::shared_ptr<ThreadFactory> factory, int32_t workerPriority,
                                 int32_t saverPriority, const WString& mainPath,
                                 const WString& overridePath)
    : workerEvents_(WecEventFlags::Create(true)),
      worker_(factory ? factory->Create(WorkerLoop, workerPriority, 0).release()
                      : new WecThread(WorkerLoop, workerPriority, 0)),
      mainPath_(mainPath),
      overridePath_(overridePath),
      store_(factory, saverPriority, mainPath, overridePath) {
    using namespace PropertyCatalogue;
    propertyFileName_ = std::make_shared<StringProperty>(Narrow(mainPath_), kNameOfPropertyFileId,
                                                         kNameOfPropertyFileName, kGeneralGroupId,
                                                         kGeneralGroupName);
    overrideFileName_ = std::make_shared<StringProperty>(
        Narrow(overridePath_), kNameOfPropertyOverrideFileId, kNameOfPropertyOverrideFileName,
        kGeneralGroupId, kGeneralGroupName);
    std::shared_ptr<BoolProperty> loadingError = std::make_shared<BoolProperty>(
        true, kPropertyLoadingErrorId, kPropertyLoadingErrorName, kErrorGroupId, kErrorGroupName);
    loadingError_ = loadingError;
    {
        // The store's lock first, as everywhere else: the load takes it again
        // around its legacy-only properties while the index lock is held.
        std::lock_guard<OrvelMutex> holdStore(store_.StoreLock());
        std::lock_guard<OrvelMutex> hold(indexLock_);
        const bool ok = store_.Load(index_, mainPath_, overridePath_);
        loadingError->SetValue(!ok);
    }
    AddProperty(propertyFileName_);
    AddProperty(overrideFileName_);
    Register(loadingError_);
}

PropertyManager::~PropertyManager() {
    workerEvents_->Set(kStopWorker);
    properties_.clear();
    // The store goes first among the members: its archives finish their saves.
}

bool PropertyManager::AddProperty(std::shared_ptr<Property> property) {
    std::lock_guard<OrvelMutex> holdManager(managerLock_);
    std::lock_guard<OrvelMutex> holdStore(store_.StoreLock());
    if (!Register(property))
        return false;
    NString stored;
    if (store_.MainArchive().GetPropertyValue(property, stored))
        property->SetValueFromStringNoEvent(stored);
    property->AddValueChangedListener(
        [this](std::shared_ptr<Property> changed) { StoreChange(changed); });
    properties_.push_back(property);
    return true;
}

void PropertyManager::StoreChange(std::shared_ptr<Property> property) {
    std::lock_guard<OrvelMutex> hold(managerLock_);
    store_.MainArchive().StoreProperty(property);
}

void PropertyManager::RemoveProperty(std::shared_ptr<Property> property,
                                     std::shared_ptr<EventFlags> done) {
    if (!property)
        return;
    {
        std::lock_guard<OrvelMutex> hold(queueLock_);
        removalQueue_.push_back(RemovalRequest(MakeKey(property->Id(), property->GroupId()), done));
    }
    workerEvents_->Set(kWorkQueued);
}

void PropertyManager::RemoveGroup(NString groupId, std::shared_ptr<EventFlags> done) {
    {
        std::lock_guard<OrvelMutex> hold(queueLock_);
        removalQueue_.push_back(RemovalRequest(MakeKey(NString(), groupId), done));
    }
    workerEvents_->Set(kWorkQueued);
}

bool PropertyManager::Discard(std::shared_ptr<Property>) {
    return false;
}

uint32_t PropertyManager::WorkerLoop(void* param) {
    PropertyManager* manager = static_cast<PropertyManager*>(param);
    for (;;) {
        const uint32_t seen = manager->workerEvents_->WaitAny(kWorkQueued | kStopWorker);
        if (seen & kStopWorker)
            return 0;
        std::lock_guard<OrvelMutex> hold(manager->queueLock_);
        while (!manager->removalQueue_.empty()) {
            const RemovalRequest request = manager->removalQueue_.front();
            manager->removalQueue_.pop_front();
            if (IsGroupKey(request.key))
                manager->UnregisterGroup(request.key);
            else
                manager->Unregister(request.key);
            if (request.done)
                request.done->Set(1);
        }
    }
}
