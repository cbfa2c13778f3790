#include "settings/SettingsUnit.h"

#include "settings/Registry.h"

TSettings* Settings = nullptr;

void TSettings::Load() {
  FileTypes = 0;
  for (const auto& row : ImageFileTypeRows())
    if (ReadRegBool(kSettingsSection, row.ValueName, false)) SetFileType(row.Type, true);
  ScanFolder = ReadRegString(kSettingsSection, "ScanFolder", "");
  Similarity = ReadRegInteger(kSettingsSection, "Similarity", 90);
  DeleteToRecycleBin = ReadRegBool(kSettingsSection, "DeleteToRecycleBin", true);
  MarkSmallerDimImages = ReadRegBool(kSettingsSection, "MarkSmallerDimImages", true);
  MarkSmallerFileSizeImages = ReadRegBool(kSettingsSection, "MarkSmallerFileSizeImages", true);
  SaveSettings = ReadRegBool(kSettingsSection, "SaveSettings", true);
}

void TSettings::Save() const {
  for (const auto& row : ImageFileTypeRows()) WriteRegBool(kSettingsSection, row.ValueName, HasFileType(row.Type));
  WriteRegString(kSettingsSection, "ScanFolder", ScanFolder);
  WriteRegInteger(kSettingsSection, "Similarity", Similarity);
  WriteRegBool(kSettingsSection, "DeleteToRecycleBin", DeleteToRecycleBin);
  WriteRegBool(kSettingsSection, "MarkSmallerDimImages", MarkSmallerDimImages);
  WriteRegBool(kSettingsSection, "MarkSmallerFileSizeImages", MarkSmallerFileSizeImages);
  WriteRegBool(kSettingsSection, "SaveSettings", SaveSettings);
}
