#pragma once
// TSettings: the user's choices, kept in the per-user settings store under
// the section "Settings" (see settings/Registry.h).

#include <cstdint>
#include <string>

#include "settings/FileTypes.h"

inline constexpr const char* kSettingsSection = "Settings";

class TSettings {
 public:
  // Loads at once.
  TSettings() { Load(); }

  // Fills every field from the store; missing or mistyped values give the
  // defaults below. The stored threshold is taken as it is.
  void Load();
  // Writes every field: the fifteen file-type flags in bit order, then
  // "ScanFolder", "Similarity", "DeleteToRecycleBin", "MarkSmallerDimImages",
  // "MarkSmallerFileSizeImages", "SaveSettings". Throws TRegistryError when
  // a value cannot be written.
  void Save() const;

  bool HasFileType(TImageFileType t) const { return (FileTypes >> t) & 1u; }
  void SetFileType(TImageFileType t, bool on) {
    FileTypes = static_cast<TImageFileTypes>(on ? FileTypes | (1u << t) : FileTypes & ~(1u << t));
  }

  TImageFileTypes FileTypes = 0;
  std::string ScanFolder;
  int32_t Similarity = 90;
  bool DeleteToRecycleBin = true;
  bool MarkSmallerDimImages = true;
  bool MarkSmallerFileSizeImages = true;
  bool SaveSettings = true;
};

// The program's one settings object, set while the main window exists.
extern TSettings* Settings;
