// The start-up load: general settings first, since KEYTABLE names the table.
#include "app/load_settings.h"

#include "keymap/key_table.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"

void LoadSettings() {
    ComputeSettingsFilePath();
    ListSettingSections(SettingsFilePath, SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    LoadGeneralSettings();
    LoadKeyTable();
}
