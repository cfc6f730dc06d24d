// The property archive in JSON: the root object's "Properties" array holds one
// entry object per property,
//
//   {"Name": id, "NameString": name, "Group": groupId, "GroupString": groupName,
//    "Value": the property's SaveValueToString text}
//
// in that member order when this archive writes it. Every other root member,
// and every further member of an entry, is written back unchanged.
//
// An entry belongs to a property when its "Name" and "Group" are strings equal,
// byte for byte, to the property's id and group id; the first such entry in
// array order counts. Elements that are not objects, or whose "Name" or "Group"
// is missing or not a string, never match. Texts are copied into the document
// up to their first zero byte.
#ifndef FWSETUP_PROPERTIES_JSON_PROPERTY_ARCHIVER_H
#define FWSETUP_PROPERTIES_JSON_PROPERTY_ARCHIVER_H

#include "properties/property_archiver_base.h"

class JsonPropertyArchiver : public PropertyArchiverBase {
  public:
    JsonPropertyArchiver(const WString& path, std::shared_ptr<ThreadFactory> factory,
                         int32_t priority);
    ~JsonPropertyArchiver();

    // Each operation takes the archive's lock for its whole run and makes sure
    // that "Properties" is an array first (see EnsurePropertiesArray).
    // Those that may change the document request a save.

    // Every element of the other archive's "Properties", in order, through
    // UpdateEntry; elements without a counterpart here are dropped. The other
    // archive is copied under its own lock first, never while this one is held.
    void MergeFrom(PropertyArchiverBase& other) override;
    // False (changing nothing) for a null property.
    bool StoreProperty(std::shared_ptr<Property> property) override;
    // A given entry without a string "Name", "Group" or "Value" matches nothing.
    bool UpdateEntry(const rapidjson::Value& entry) override;
    // Clears text; when the property has an entry whose "Value" is a string,
    // text becomes it. True when the entry exists.
    bool GetPropertyValue(std::shared_ptr<Property> property, NString& text) override;
    void AddEntry(const NString& id, const NString& groupId, const NString& groupName,
                  const NString& name, const NString& value) override;

    // The property's first entry in entries (an array), or null. Takes no lock.
    virtual rapidjson::Value* FindEntry(const Property& property, rapidjson::Value& entries);
    // Adds "Name", "NameString", "Group" and "GroupString" of the property to entry.
    virtual void FillIdentity(const Property& property, rapidjson::Value& entry);

    // Adds "Properties" as an empty array when the root has none; a
    // "Properties" that is not an array is replaced by an empty one, so that
    // entries can be kept. Takes no lock.
    void EnsurePropertiesArray();

  private:
    rapidjson::Value& Entries();
};

#endif
