#pragma once
// What the Visual Compare window reads from the main window's duplicates
// list: its rows, the selection, each row's record index and check box, and
// the finder holding the file names and records.

class TDFinder;

class TPreviewSource {
 public:
  virtual ~TPreviewSource() = default;
  // Number of rows of the duplicates list.
  virtual int PreviewRowCount() const = 0;
  // The selected row, -1 if none.
  virtual int PreviewSelectedRow() const = 0;
  // Moves the list's selection; the main window's row-change handler runs.
  virtual void PreviewSelectRow(int row) = 0;
  // Index k of the row's record (into FileNames and Images).
  virtual int PreviewRowData(int row) const = 0;
  // Sets the row's check box.
  virtual void PreviewSetRowChecked(int row, bool checked) = 0;
  virtual TDFinder* PreviewFinder() = 0;
};
