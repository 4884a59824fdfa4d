// How the engine tells the walk around it that reading files waits for the disk.
#pragma once

// Learns whether reading files waits for the disk: a walk that reads ahead for cold disks starts
// once one has. Any thread may tell.
class DiskWaits {
 public:
  // Whether a read has waited already: then no file need be probed for it.
  virtual bool seen() const = 0;
  virtual void Note() = 0;

 protected:
  ~DiskWaits() = default;
};
