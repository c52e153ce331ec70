#pragma once
// Puts decoded pictures into tile images: Format_RGB32, exactly the tile's size, the picture in
// its letterbox rectangle, black bars around it.
#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <memory>

struct AVFrame;
struct SwsContext;

// A tile image whose area outside picture is black (the inside is left for the picture).
QImage letterboxedTile(QSize tile, QRect picture);

// Copies (same size) or smoothly (bilinear) scales a picture of width x height 32-bit pixels (blue,
// green, red, 255 in memory; stride bytes a row) into target of tile.
void placeBgrxPicture(const uint8_t* pixels, int width, int height, int stride, QImage& tile,
                      QRect target);

// Scales decoded codec pictures with libswscale straight into a tile rectangle; keeps its scaling
// context for the next picture of the same sizes. One per channel (not thread-safe).
class CFrameScaler {
 public:
  CFrameScaler();
  ~CFrameScaler();
  CFrameScaler(const CFrameScaler&) = delete;
  CFrameScaler& operator=(const CFrameScaler&) = delete;

  bool scale(const AVFrame& frame, QImage& tile, QRect target);

 private:
  struct ScalerDeleter {
    void operator()(SwsContext* scaler) const;
  };
  std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
};

// The filter codec pictures are scaled with (tests reproduce the scaling with it).
int tileScaleFlags();
