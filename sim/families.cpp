#include "sim/families.h"

#include <algorithm>
#include <memory>

namespace ktq::sim {

namespace {

Property addressFunction(bool takes31) {
    Property property;
    property.header = "SYST:COMM:GPIB:ADDR";
    property.accepts = {integerRange(0, takes31 ? 31 : 30)};
    property.address = true;
    return property;
}

Property setting(std::string header, std::string defaultValue, std::vector<ValueRule> accepts) {
    return Property{std::move(header), std::move(defaultValue), std::move(accepts)};
}

// *ESE and *SRE are common commands of every unit and are handled beside the tables.
const Family& simpleFamily() {
    static const Family family{"simple", {addressFunction(true)}};
    return family;
}

// The demo table is the union of all tables: a header found in several takes what any of them
// takes and keeps the delivery value of the first.
Family mergeAll(const std::vector<const Family*>& families) {
    Family merged{"demo", {}};
    for (const Family* family : families) {
        for (const Property& property : family->properties) {
            auto same =
                std::find_if(merged.properties.begin(), merged.properties.end(), [&](const Property& p) {
                    return upperCase(p.header) == upperCase(property.header);
                });
            if (same == merged.properties.end()) {
                merged.properties.push_back(property);
                continue;
            }
            same->accepts.insert(same->accepts.end(), property.accepts.begin(), property.accepts.end());
            same->perChannel = same->perChannel || property.perChannel;
        }
    }
    return merged;
}

ModelFacts model(std::string text, const Family& family) {
    ModelFacts facts;
    facts.text = std::move(text);
    facts.family = &family;
    return facts;
}

} // namespace

const std::vector<ModelFacts>& knownModels() {
    static const std::vector<ModelFacts> models = [] {
        std::vector<ModelFacts> list;
        for (const char* text : {"7147", "7174", "7179"})
            list.push_back(model(text, simpleFamily()));
        return list;
    }();
    return models;
}

const ModelFacts& demoModel() {
    static const ModelFacts demo = [] {
        std::vector<const Family*> families;
        for (const ModelFacts& facts : knownModels())
            if (std::find(families.begin(), families.end(), facts.family) == families.end())
                families.push_back(facts.family);
        static const Family merged = mergeAll(families);
        ModelFacts facts = model("demo", merged);
        facts.channels = 4;
        facts.channelAccess = ChannelAccess::Both;
        return facts;
    }();
    return demo;
}

const ModelFacts* findModel(std::string_view text) {
    const std::string wanted = upperCase(trimBlanks(text));
    if (wanted == "DEMO")
        return &demoModel();
    const auto& models = knownModels();
    for (const ModelFacts& facts : models)
        if (upperCase(facts.text) == wanted)
            return &facts;
    for (const ModelFacts& facts : models)
        if (wanted.size() == 4 && facts.text.substr(0, 4) == wanted)
            return &facts;
    return nullptr;
}

} // namespace ktq::sim
