#include "GnomeKeybindings.h"

#include <array>
#include <gio/gio.h>
#include <memory>
#include <vector>

namespace quill {
namespace {

// The schemas whose keys GNOME Shell, mutter and the settings daemon bind.
constexpr std::array<const char*, 5> systemSchemas{
    "org.gnome.desktop.wm.keybindings",
    "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings",
    "org.gnome.settings-daemon.plugins.media-keys",
};

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Settings = std::unique_ptr<GSettings, GObjectUnref>;

struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;

// GSettings aborts the process for a schema that is not installed, so each is looked up first.
Schema lookup(const QString& id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return nullptr;
    return Schema(g_settings_schema_source_lookup(source, id.toUtf8().constData(), TRUE));
}

Settings open(const QString& schemaId) {
    const Schema schema = lookup(schemaId);
    return schema ? Settings(g_settings_new_full(schema.get(), nullptr, nullptr)) : nullptr;
}

Settings openCustom(const QString& path) {
    const Schema schema = lookup(GnomeKeybindings::customSchema);
    return schema ? Settings(g_settings_new_full(schema.get(), nullptr, path.toUtf8().constData())) : nullptr;
}

QString pathOf(const QString& id) {
    return GnomeKeybindings::customPath + id + u'/';
}

QStringList strings(GSettings* settings, const char* key) {
    QStringList list;
    gchar** values = g_settings_get_strv(settings, key);
    for (gchar** value = values; value && *value; ++value)
        list << QString::fromUtf8(*value);
    g_strfreev(values);
    return list;
}

void setStrings(GSettings* settings, const char* key, const QStringList& list) {
    std::vector<QByteArray> bytes;
    bytes.reserve(size_t(list.size()));
    std::vector<const gchar*> values;
    for (const QString& value : list) {
        bytes.push_back(value.toUtf8());
        values.push_back(bytes.back().constData());
    }
    values.push_back(nullptr);
    g_settings_set_strv(settings, key, values.data());
}

QString string(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    QString result = QString::fromUtf8(value);
    g_free(value);
    return result;
}

// The accelerators a setting holds: a list of them, or one.
QStringList accelerators(GSettings* settings, const char* key) {
    GVariant* value = g_settings_get_value(settings, key);
    QStringList result;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        const gchar** items = g_variant_get_strv(value, &count);
        for (gsize i = 0; i < count; ++i)
            result << QString::fromUtf8(items[i]);
        g_free(items);
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        result << QString::fromUtf8(g_variant_get_string(value, nullptr));
    }
    g_variant_unref(value);
    return result;
}

} // namespace

GnomeKeybindings::GnomeKeybindings(QString idPrefix) : m_idPrefix(std::move(idPrefix)) {}

bool GnomeKeybindings::available() {
    return lookup(mediaKeysSchema) && lookup(customSchema);
}

void GnomeKeybindings::set(const QString& id, const QString& name, const QString& command,
                           const QString& accelerator) {
    const Settings custom = openCustom(pathOf(id));
    const Settings list = open(mediaKeysSchema);
    if (!custom || !list)
        return;
    g_settings_set_string(custom.get(), "name", name.toUtf8().constData());
    g_settings_set_string(custom.get(), "command", command.toUtf8().constData());
    g_settings_set_string(custom.get(), "binding", accelerator.toUtf8().constData());
    QStringList paths = strings(list.get(), "custom-keybindings");
    if (!paths.contains(pathOf(id))) {
        paths << pathOf(id);
        setStrings(list.get(), "custom-keybindings", paths);
    }
}

void GnomeKeybindings::remove(const QString& id) {
    const Settings list = open(mediaKeysSchema);
    if (!list)
        return;
    QStringList paths = strings(list.get(), "custom-keybindings");
    if (paths.removeAll(pathOf(id)) > 0)
        setStrings(list.get(), "custom-keybindings", paths);
    // The binding's own keys go too, so no trace of it stays in the user's settings.
    if (const Settings custom = openCustom(pathOf(id))) {
        for (const char* key : {"name", "command", "binding"})
            g_settings_reset(custom.get(), key);
    }
}

void GnomeKeybindings::removeAll() {
    for (const QString& id : ids())
        remove(id);
}

void GnomeKeybindings::flush() {
    g_settings_sync();
}

QStringList GnomeKeybindings::ids() const {
    const Settings list = open(mediaKeysSchema);
    QStringList result;
    if (!list)
        return result;
    for (const QString& path : strings(list.get(), "custom-keybindings")) {
        if (!path.startsWith(customPath) || !path.endsWith(u'/'))
            continue;
        const QString id = path.mid(customPath.size()).chopped(1);
        if (id.startsWith(m_idPrefix))
            result << id;
    }
    return result;
}

std::optional<QString>
GnomeKeybindings::boundElsewhere(const std::function<bool(const QString&)>& matches) const {
    if (const Settings list = open(mediaKeysSchema)) {
        for (const QString& path : strings(list.get(), "custom-keybindings")) {
            if (path.startsWith(customPath + m_idPrefix))
                continue;
            const Settings custom = openCustom(path);
            if (custom && matches(string(custom.get(), "binding")))
                return string(custom.get(), "name");
        }
    }
    for (const char* schemaId : systemSchemas) {
        const Schema schema = lookup(QString::fromLatin1(schemaId));
        if (!schema)
            continue;
        const Settings settings(g_settings_new_full(schema.get(), nullptr, nullptr));
        gchar** keys = g_settings_schema_list_keys(schema.get());
        std::optional<QString> found;
        for (gchar** key = keys; key && *key && !found; ++key) {
            for (const QString& accelerator : accelerators(settings.get(), *key)) {
                if (matches(accelerator)) {
                    found = QString::fromUtf8(*key);
                    break;
                }
            }
        }
        g_strfreev(keys);
        if (found)
            return found;
    }
    return std::nullopt;
}

} // namespace quill
