#pragma once
// The per-user settings store and the program's version texts.
//
// The store is one text file, $XDG_CONFIG_HOME/tarvelle/registry.ini (or
// ~/.config/tarvelle/registry.ini), holding keys with typed values:
//
//   ; Tarvelle settings store
//   [\Software\Kelvane\Tarvelle\1.0\Settings]
//   Similarity=dword:90
//   ScanFolder=sz:"/home/ann/Pictures"
//
//   ; end of store
//
// A "dword" is a signed 32-bit decimal number; an "sz" is text in double
// quotes in which \\, \" and \xHH (two hex digits, any byte) are escapes and
// every other byte stands for itself; control bytes are always written as
// \xHH. In value names \\, \xHH are escapes and "=" is written as \x3d. Key
// and value names compare without regard to ASCII case. Blank lines and
// lines starting with ";" are ignored; any other line that does not parse
// makes the whole file unreadable, and an unreadable store reads as empty.
// So does a file whose last line has no line break, or one that starts with
// the "; Tarvelle settings store" line but does not end with "; end of
// store": both were cut short.
//
// Every read opens the file, takes one value and closes it. Every write
// rewrites the file whole: the new content goes to a temporary file in the
// same folder, is flushed to disk and renamed over the store, so a crash
// leaves either the old or the new store, never a mix (a temporary file a
// crashed writer leaves behind is removed by the next write). Concurrent writers
// are serialised with a lock file. Writing over an unreadable store keeps
// its old content as registry.ini.corrupt.

#include <cstdint>
#include <stdexcept>
#include <string>

// A failure while writing a value into the store.
class TRegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The store file in use (follows the environment at every call).
std::string RegistryStoreFile();

// "1.0.0.0" and "1.0" from the compiled-in version, "Unknown" without one.
std::string GetVersionText();
std::string GetShortVersionText();
// The same from a given version text (four dot-separated numbers 0..65535);
// "Unknown" when it is missing or malformed.
std::string VersionTextOf(const char* version, bool shortForm);

// "\Software\Kelvane\Tarvelle\<short version>\<section>".
std::string RegistryKeyPath(const std::string& section);

// Reads return the stored value, or the default when the key or value is
// missing, the value has another type, or the store cannot be read.
bool ReadRegBool(const std::string& section, const std::string& name, bool defaultValue);
int32_t ReadRegInteger(const std::string& section, const std::string& name, int32_t defaultValue);
std::string ReadRegString(const std::string& section, const std::string& name, const std::string& defaultValue);

// Writes create the key when missing. When the store's folder cannot be
// created or the store cannot be opened for writing nothing happens; a
// failure while writing throws TRegistryError. Booleans are stored as the
// numbers 1 and 0; any non-zero number reads as true.
void WriteRegBool(const std::string& section, const std::string& name, bool value);
void WriteRegInteger(const std::string& section, const std::string& name, int32_t value);
void WriteRegString(const std::string& section, const std::string& name, const std::string& value);
