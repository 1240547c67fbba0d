#pragma once

#include "pricing/pricingservice.h"

#include <QString>

#include <optional>
#include <stdexcept>
#include <string>

namespace loomwatch::core {

class AppStore;

// what() is the user-facing description.
class ResourceError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    static ResourceError invalidPricing() { return ResourceError("Pricing JSON is not valid UTF-8."); }
};

// The two user-editable files (ModelPricing.json, HandoffTemplate.md) in Loomwatch's data folder,
// with their shipped defaults compiled in. Working copies are created lazily from the defaults and
// never overwritten except by a reset or a save. Every operation reads or writes the files
// themselves; writes are atomic (temporary file, then rename).
class EditableResources
{
public:
    static inline const std::string pricingName = "ModelPricing";
    static inline const std::string pricingExtension = "json";
    static inline const std::string templateName = "HandoffTemplate";
    static inline const std::string templateExtension = "md";

    // The working copies live in `directory` (Loomwatch's data folder); the defaults in
    // `defaultsDirectory` (a directory, or a Qt resource prefix), the compiled-in ones when empty.
    explicit EditableResources(std::string directory, std::string defaultsDirectory = {});

    // Not created by this call.
    const std::string& resourceDirectory() const { return m_directory; }
    // The working copy's path, copied from the default when missing; nothing when there is no
    // default or the folder or copy cannot be made. Never throws.
    std::optional<std::string> resourceURL(const std::string& name, const std::string& ext) const;
    // Removes the working copy (a failure throws ResourceError with the system's description),
    // then copies the default back; a missing default or failed copy is not reported.
    void resetResource(const std::string& name, const std::string& ext) const;

    // The working pricing table; without a working copy the shipped default; the fallback table
    // (no prices) when that fails too.
    pricing::PricingService loadPricing() const;
    // The working template as UTF-8 text; nothing when it is missing, unreadable or not UTF-8.
    std::optional<std::string> handoffTemplateText() const;

    struct EditorTexts
    {
        // Nothing: no working copy could be produced, keep the editor's text. Empty: unreadable.
        std::optional<std::string> pricingJSON;
        std::optional<std::string> handoffTemplate;
    };
    EditorTexts loadEditors() const;

    // Validates the pricing text, writes both files and re-prices the store. Returns the message
    // to show: "Saved locally." or "Could not save: " + the reason. Invalid pricing writes nothing.
    std::string save(const std::string& pricingJSON, const std::string& handoffTemplate, AppStore& store) const;
    // The same from editor text; text that has no UTF-8 form is refused as invalid pricing.
    std::string save(const QString& pricingJSON, const QString& handoffTemplate, AppStore& store) const;

    struct ResetOutcome
    {
        // The failure's description alone; nothing after a successful reset.
        std::optional<std::string> message;
        EditorTexts editors; // the reloaded editor texts (after a success)
    };
    // Restores both working copies from the defaults, reloads the editors and re-prices the store.
    ResetOutcome resetDefaults(AppStore& store) const;

private:
    std::string workingCopy(const std::string& name, const std::string& ext) const;
    std::string defaultCopy(const std::string& name, const std::string& ext) const;

    std::string m_directory;
    std::string m_defaultsDirectory;
};

} // namespace loomwatch::core
