// The dialog's start-up load of the settings: the general settings, then the
// keyboard table they name. It lives above both, the one step that needs both.
#pragma once

// Computes SettingsFilePath, lists the sections, reads GENERAL, loads the table.
void LoadSettings();
