#include "images/cfg_image.h"

#include <new>

#include "base/log.h"
#include "images/whole_file.h"

namespace tessaro {
namespace {

bool IsMarker(uint8_t byte) { return byte == 'x' || byte == 'X'; }

// A digit position holding anything but a hexadecimal digit counts as 0.
uint8_t NibbleOf(uint8_t byte) {
  if (byte >= '0' && byte <= '9') return static_cast<uint8_t>(byte - '0');
  if (byte >= 'a' && byte <= 'f') return static_cast<uint8_t>(byte - 'a' + 10);
  if (byte >= 'A' && byte <= 'F') return static_cast<uint8_t>(byte - 'A' + 10);
  return 0;
}

}  // namespace

void CfgImage::Release() {
  valid = 0;
  data.reset();
}

int32_t CfgImage::LoadCfgFile(const char* cfg_name) {
  CfgImage& image = *this;
  if (cfg_name == nullptr) {
    LOG_ERROR("error     : cfg name is NULL!!!\n");
    return kCfgErrOpen;
  }
  image.Release();
  image.length = 0;
  image.version = 0;

  // Every failure below leaves the record empty; the raw bytes and the file
  // go with their owners.
  auto fail = [&image](int32_t code) {
    image.Release();
    image.length = 0;
    image.version = 0;
    return code;
  };

  OpenedFile file;
  if (!file.Open(cfg_name)) {
    LOG_ERROR("error     : open cfg file FAILED, cfg_name:%s\n", cfg_name);
    return fail(kCfgErrOpen);
  }
  LOG_DEBUG("dbg info  : open cfg file success, cfg_name:%s\n", cfg_name);

  const uint32_t fileSize = TheFileSystem().SizeLow32(file.handle());
  LOG_DEBUG("dbg info  : cfg file size:%d\n", static_cast<int>(fileSize));

  std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[fileSize]);
  if (!raw) {
    LOG_ERROR("error     : allocate memory for cfg file failed\n");
    return fail(kCfgErrOpen);
  }

  const WholeRead read = ReadWholeFile(file.handle(), raw.get(), fileSize);
  if (read.result == WholeRead::Result::kFailed) {
    LOG_ERROR("error     : ReadFile FAILED,error:%d\n", static_cast<int>(read.error));
    return fail(kCfgErrRead);
  }
  if (read.result == WholeRead::Result::kCountDiffers) {
    LOG_ERROR("error     : ReadFile fail, cfg_file_size:%d, bytes read:%d\n", static_cast<int>(fileSize),
              static_cast<int>(read.readBytes));
    return fail(kCfgErrReadCount);
  }
  LOG_DEBUG("dbg info  : read raw data form cfg file success\n");

  uint32_t count = 0;
  for (uint32_t i = 0; i < fileSize; ++i) {
    if (IsMarker(raw[i])) ++count;
  }
  if (count < 2) {
    LOG_ERROR("error     : cfg file ERROR, valid data count:%d\n", static_cast<int>(count));
  }
  if (count == 0) {
    LOG_ERROR("error     : cfg file holds no data, cfg_name:%s\n", cfg_name);
    return fail(kCfgErrNoData);
  }
  image.length = count;

  image.data.reset(new (std::nothrow) uint8_t[count]);
  if (!image.data) {
    LOG_ERROR("error     : allocate memory for cfg data failed\n");
    return fail(kCfgErrOpen);
  }

  // Every byte is tested as a marker, digit positions included, and digit
  // positions past the end of the file count as 0.
  uint32_t stored = 0;
  for (uint32_t i = 0; i < fileSize; ++i) {
    if (!IsMarker(raw[i])) continue;
    const uint8_t high = i + 1 < fileSize ? NibbleOf(raw[i + 1]) : 0;
    const uint8_t low = i + 2 < fileSize ? NibbleOf(raw[i + 2]) : 0;
    if (stored >= image.length) {
      LOG_ERROR("error     : exchange cfg data error, overflow\n");
      return fail(kCfgErrOverflow);
    }
    image.data[stored++] = static_cast<uint8_t>(high << 4 | low);
  }
  image.version = image.data[0];

  uint8_t sum = 0;
  for (uint32_t i = 0; i < image.length; ++i) sum = static_cast<uint8_t>(sum + image.data[i]);
  if (sum != 0) {
    LOG_ERROR("error     : Check_sum err,  0x%x\n", static_cast<unsigned>(sum));
    return fail(kCfgErrChecksum);
  }

  image.valid = 1;
  return kCfgLoaded;
}

}  // namespace tessaro
