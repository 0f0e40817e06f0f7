// Writes a two-face Ptex file with the installed Ptex library, reads it back and filters it:
// the texels and a box-filtered constant face must come back as written.
//   consumer_ptex FILE.ptx
#include <Ptexture.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer_ptex FILE.ptx\n");
        return 2;
    }
    Ptex::String error;
    {
        PtexPtr<PtexWriter> writer(PtexWriter::open(argv[1], Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error));
        if (!writer) {
            std::fprintf(stderr, "write: %s\n", error.c_str());
            return 1;
        }
        int adj0[4] = {-1, 1, -1, -1}, adj1[4] = {-1, -1, -1, 0}, edges[4] = {0, 3, 0, 1};
        uint8_t ramp[4 * 4 * 3];
        for (int i = 0; i < 4 * 4 * 3; ++i) ramp[i] = static_cast<uint8_t>(i * 5);
        const uint8_t grey[3] = {128, 128, 128};
        if (!writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(2, 2), adj0, edges), ramp) ||
            !writer->writeConstantFace(1, Ptex::FaceInfo(Ptex::Res(2, 2), adj1, edges), grey) ||
            !writer->close(error)) {
            std::fprintf(stderr, "write: %s\n", error.c_str());
            return 1;
        }
    }
    PtexPtr<PtexTexture> texture(PtexTexture::open(argv[1], error));
    if (!texture) {
        std::fprintf(stderr, "read: %s\n", error.c_str());
        return 1;
    }
    float texel[3];
    texture->getPixel(0, 3, 2, texel, 0, 3);
    const int first = (2 * 4 + 3) * 3;
    if (texture->numFaces() != 2 || std::fabs(texel[0] * 255.f - float(first * 5)) > 0.01f) {
        std::fprintf(stderr, "read back %g, expected %d\n", texel[0] * 255.f, first * 5);
        return 1;
    }
    PtexPtr<PtexFilter> filter(PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_box)));
    float filtered[3] = {0, 0, 0};
    filter->eval(filtered, 0, 3, 1, 0.5f, 0.5f, 0.1f, 0, 0, 0.1f);
    if (std::fabs(filtered[1] - 128.f / 255.f) > 1e-5f) {
        std::fprintf(stderr, "filtered %g, expected %g\n", filtered[1], 128.f / 255.f);
        return 1;
    }
    std::printf("consumer_ptex: %s read and filtered\n", argv[1]);
    return 0;
}
