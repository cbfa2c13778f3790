#pragma once
// TImFileBuffer: the temporary-file store behind imTempFile buffers. Rows are
// stored top-down; one row (or a few, for callers that ask) is mapped into
// memory at a time and written back when the next one is requested.

#include <cstdint>
#include <string>
#include <vector>

class TImFileBuffer {
 public:
  TImFileBuffer() = default;
  ~TImFileBuffer();
  TImFileBuffer(const TImFileBuffer&) = delete;
  TImFileBuffer& operator=(const TImFileBuffer&) = delete;

  // Creates (or re-creates) the file with the given size. False on failure.
  bool Create(int64_t size);
  // Releases the previously mapped row (writing it back when it was mapped
  // for writing), then maps len bytes at offset; reads them when access has
  // bit 0. The address stays valid until the next MapRow or UnmapAll.
  uint8_t* MapRow(int64_t offset, int64_t len, uint8_t access);
  // Writes back and frees every mapped row.
  void UnmapAll();
  // Unmaps, closes and deletes the file.
  void Release();
  // Copies the whole content of another store of the same size.
  bool CopyFrom(TImFileBuffer& source, int64_t size);
  const std::string& FileName() const { return name_; }
  bool IsOpen() const { return fd_ >= 0; }

 private:
  struct TMappedRow {
    int64_t Offset = 0;
    int64_t Length = 0;
    uint8_t Access = 0;
    std::vector<uint8_t> Memory;
  };
  void WriteBack(TMappedRow& row);
  std::string name_;
  int fd_ = -1;
  int64_t size_ = 0;
  std::vector<TMappedRow> rows_;
};
