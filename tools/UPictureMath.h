// Raw 4:2:0 pictures for tests, benchmarks and recordings: synthetic pictures, the swap
// between I420 and YV12 order, and the PSNR that compares two pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes of one planar 4:2:0 picture (both sizes even).
size_t Yuv420Size(int AWidth, int AHeight);

// A smooth moving picture in I420 (luma, Cb, Cr): colour gradients with a bright square
// that moves with AIndex. The same arguments always give the same picture.
std::vector<uint8_t> MakeMovingPicture(int AWidth, int AHeight, int AIndex);

// A picture of one colour per half: the left half ALeft, the right half ARight, each given
// as limited-range Y, Cb, Cr. I420.
struct TYCbCr {
  uint8_t Y, Cb, Cr;
};
std::vector<uint8_t> MakeSplitPicture(int AWidth, int AHeight, TYCbCr ALeft, TYCbCr ARight);

// Saturated red and blue in limited-range BT.601.
constexpr TYCbCr YCbCrRed{81, 90, 240};
constexpr TYCbCr YCbCrBlue{41, 240, 110};

// Swaps the two chroma planes: I420 to YV12 and back.
std::vector<uint8_t> SwapChromaPlanes(const std::vector<uint8_t>& APicture, int AWidth,
                                      int AHeight);

// I420 to NV12 (AInterleaveCrFirst false) or NV21 (true): chroma interleaved in one plane.
std::vector<uint8_t> InterleaveChroma(const std::vector<uint8_t>& AI420, int AWidth, int AHeight,
                                      bool AInterleaveCrFirst);

// PSNR in dB of two byte ranges of equal length (99 for identical ones).
double Psnr(const uint8_t* A, const uint8_t* B, size_t ASize);
// PSNR over all three planes of two 4:2:0 pictures of the same size and order.
double PicturePsnr(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B);

// Mean of a rectangle of one plane (row stride APlaneWidth).
double PlaneMean(const uint8_t* APlane, int APlaneWidth, int AX, int AY, int AW, int AH);
