// The keyboard-table load in its plain form, 256 separate ReadSettingValue
// calls, one per byte value: what LoadKeyTable's one pass must always agree
// with. Test code only (tests and the fuzzer compare the two).
#pragma once

#include "keymap/key_table.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"

inline void LoadKeyTableByKeyReads() {
    for (int n = 0; n < kKeyTableSize; ++n) {
        char16_t key[12];
        platform::FormatDecimal(key, 12, n);
        char16_t value[kTextCapacity];
        ReadSettingValue(SerialSettings.keyTableName, key, kAbsentValue, value,
                         kTextCapacity, SettingsFilePath);
        ApplyKeyValue(KeyTable[n], value);
    }
}
