#include "formats/pictures/picture_checks.h"

#include <libheif/heif.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <memory>

namespace morvane {

const bool kPictureDecodeChecks = true;

namespace {
template <class T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Freer<T, Free>>;
void FreeHandle(heif_image_handle* h) { heif_image_handle_release(h); }
void FreeImage(heif_image* i) { heif_image_release(i); }
}  // namespace

bool HeifPictureDecodes(ByteView file) {
  if (file.size() == 0) return false;
  Owned<heif_context, heif_context_free> context(heif_context_alloc());
  if (!context) return false;
  if (heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr).code !=
      heif_error_Ok)
    return false;
  heif_image_handle* rawHandle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) return false;
  Owned<heif_image_handle, FreeHandle> handle(rawHandle);
  heif_image* rawImage = nullptr;
  const heif_error decoded =
      heif_decode_image(handle.get(), &rawImage, heif_colorspace_undefined, heif_chroma_undefined, nullptr);
  Owned<heif_image, FreeImage> image(rawImage);
  return decoded.code == heif_error_Ok && image != nullptr;
}

bool WebpPictureDecodes(ByteView file) {
  WebPBitstreamFeatures features;
  if (file.size() == 0 || WebPGetFeatures(file.data(), file.size(), &features) != VP8_STATUS_OK) return false;
  if (!features.has_animation) {
    int width = 0, height = 0;
    uint8_t* pixels = WebPDecodeRGBA(file.data(), file.size(), &width, &height);
    WebPFree(pixels);
    return pixels != nullptr;
  }
  const WebPData data{file.data(), file.size()};
  Owned<WebPDemuxer, WebPDemuxDelete> demux(WebPDemux(&data));
  if (!demux) return false;
  WebPIterator frame;
  if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) return false;
  int width = 0, height = 0;
  uint8_t* pixels = WebPDecodeRGBA(frame.fragment.bytes, frame.fragment.size, &width, &height);
  WebPDemuxReleaseIterator(&frame);
  WebPFree(pixels);
  return pixels != nullptr;
}

}  // namespace morvane
