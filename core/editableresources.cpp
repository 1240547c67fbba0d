#include "core/editableresources.h"

#include "core/appstore.h"
#include "handoff/unicodetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace loomwatch::core {

namespace {

const std::string compiledDefaults = ":/loomwatch/defaults";

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::optional<QByteArray> readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

// Temporary file beside the target, then rename: readers see the old or the new text, never half.
std::optional<QString> writeAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace

EditableResources::EditableResources(std::string directory, std::string defaultsDirectory)
    : m_directory(std::move(directory)),
      m_defaultsDirectory(defaultsDirectory.empty() ? compiledDefaults : std::move(defaultsDirectory))
{}

std::string EditableResources::workingCopy(const std::string& name, const std::string& ext) const
{
    return m_directory + "/" + name + "." + ext;
}

std::string EditableResources::defaultCopy(const std::string& name, const std::string& ext) const
{
    return m_defaultsDirectory + "/" + name + "." + ext;
}

std::optional<std::string> EditableResources::resourceURL(const std::string& name, const std::string& ext) const
{
    const std::string target = workingCopy(name, ext);
    if (QFileInfo::exists(q(target)))
        return target;
    // Read the default rather than QFile::copy(): a copy of a compiled-in resource would be read-only.
    const std::optional<QByteArray> contents = readAll(q(defaultCopy(name, ext)));
    if (!contents)
        return std::nullopt;
    if (!QDir().mkpath(q(m_directory)))
        return std::nullopt;
    if (writeAtomically(q(target), *contents))
        return std::nullopt;
    return target;
}

void EditableResources::resetResource(const std::string& name, const std::string& ext) const
{
    const std::string target = workingCopy(name, ext);
    const QFileInfo info(q(target));
    if (info.exists() || info.isSymLink()) {
        if (std::remove(target.c_str()) != 0) {
            const int error = errno;
            throw ResourceError("Could not remove " + name + "." + ext + ": " + std::strerror(error));
        }
    }
    (void)resourceURL(name, ext);
}

pricing::PricingService EditableResources::loadPricing() const
{
    // Without a working copy the shipped default still prices; only when both fail, nothing does.
    const std::optional<std::string> path = resourceURL(pricingName, pricingExtension);
    const std::optional<QByteArray> bytes = readAll(q(path ? *path : defaultCopy(pricingName, pricingExtension)));
    if (!bytes)
        return pricing::PricingService();
    return pricing::PricingService::fromJson(
        std::string_view(bytes->constData(), static_cast<std::size_t>(bytes->size())));
}

std::optional<std::string> EditableResources::handoffTemplateText() const
{
    const std::optional<std::string> path = resourceURL(templateName, templateExtension);
    if (!path)
        return std::nullopt;
    const std::optional<QByteArray> bytes = readAll(q(*path));
    if (!bytes)
        return std::nullopt;
    std::string text = bytes->toStdString();
    if (!handoff::isValidUtf8(text))
        return std::nullopt;
    return text;
}

EditableResources::EditorTexts EditableResources::loadEditors() const
{
    auto load = [this](const std::string& name, const std::string& ext) -> std::optional<std::string> {
        const std::optional<std::string> path = resourceURL(name, ext);
        if (!path)
            return std::nullopt;
        const std::optional<QByteArray> bytes = readAll(q(*path));
        if (!bytes)
            return std::string();
        std::string text = bytes->toStdString();
        return handoff::isValidUtf8(text) ? text : std::string();
    };
    return EditorTexts{load(pricingName, pricingExtension), load(templateName, templateExtension)};
}

std::string EditableResources::save(const std::string& pricingJSON, const std::string& handoffTemplate,
                                    AppStore& store) const
{
    const std::string prefix = "Could not save: ";
    if (!handoff::isValidUtf8(pricingJSON))
        return prefix + ResourceError::invalidPricing().what();
    try {
        // Only a check: the store re-reads the file below.
        (void)pricing::PricingService::decode(pricingJSON);
    } catch (const std::exception& error) {
        return prefix + error.what();
    }
    if (!QDir().mkpath(q(m_directory)))
        return prefix + "Cannot create the folder " + m_directory + ".";
    const std::string pricingFile = pricingName + "." + pricingExtension;
    if (auto error =
            writeAtomically(q(workingCopy(pricingName, pricingExtension)), QByteArray::fromStdString(pricingJSON)))
        return prefix + "Cannot write " + pricingFile + ": " + error->toStdString();
    const std::string templateFile = templateName + "." + templateExtension;
    if (auto error = writeAtomically(q(workingCopy(templateName, templateExtension)),
                                     QByteArray::fromStdString(handoffTemplate)))
        return prefix + "Cannot write " + templateFile + ": " + error->toStdString();
    store.setPricing(loadPricing());
    return "Saved locally.";
}

std::string EditableResources::save(const QString& pricingJSON, const QString& handoffTemplate, AppStore& store) const
{
    // Lone surrogates have no UTF-8 form; converting would silently turn them into U+FFFD.
    if (!pricingJSON.isValidUtf16())
        return std::string("Could not save: ") + ResourceError::invalidPricing().what();
    return save(pricingJSON.toStdString(), handoffTemplate.toStdString(), store);
}

EditableResources::ResetOutcome EditableResources::resetDefaults(AppStore& store) const
{
    ResetOutcome outcome;
    try {
        resetResource(pricingName, pricingExtension);
        resetResource(templateName, templateExtension);
    } catch (const std::exception& error) {
        outcome.message = error.what();
        return outcome;
    }
    outcome.editors = loadEditors();
    store.setPricing(loadPricing());
    return outcome;
}

} // namespace loomwatch::core
