#pragma once
// Replaces resources of an image file: Begin takes the image's resources,
// Update records changes, End lays out a new resource section and writes the
// image back through its file.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pe {

class ImageFile;

// A numeric id, or a string name when `name` is not empty.
struct ResourceName {
  uint16_t id = 0;
  std::u16string name;
  static ResourceName Id(uint16_t id);
  static ResourceName Named(std::u16string name);
};

struct PendingUpdate;

class ResourceUpdate {
 public:
  ResourceUpdate();
  ~ResourceUpdate();
  ResourceUpdate(const ResourceUpdate&) = delete;
  ResourceUpdate& operator=(const ResourceUpdate&) = delete;

  // Starts an update of image, which must outlive it; deleteExisting drops
  // all its resources.
  bool Begin(ImageFile& image, bool deleteExisting);
  // Adds or replaces one resource (empty data removes it). false, with LastError, when no update
  // is pending or the arguments are invalid.
  bool Update(const ResourceName& type, const ResourceName& name, uint16_t language,
              std::span<const uint8_t> data);
  // Languages under which type/name exists in the pending image (updates applied).
  std::vector<uint16_t> Languages(const ResourceName& type, const ResourceName& name) const;
  // discard=false writes the new image to the file; false with LastError when anything fails
  // (the file is then unchanged). discard=true drops the pending update and returns true.
  bool End(bool discard);
  uint32_t LastError() const;
  // What made the last failure, when more can be said than its code (for
  // instance which sections overlap); empty otherwise.
  const std::string& LastCause() const;

 private:
  std::unique_ptr<PendingUpdate> pending_;
  uint32_t lastError_ = 0;
  std::string lastCause_;
};

}  // namespace pe
