// A program outside the tree, built against the installed Tessera: it opens an image file,
// draws it through Display into a memory device context and checks the pixels it drew.
//   consumer FILE R G B   (the colour every pixel of FILE has)
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tessera/tessera.h>
#include <win/gdi.h>
#include <kroma.h>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: consumer FILE R G B\n");
    return 2;
  }
  tagTes_Image_Info info{};
  info.size = sizeof info;
  char empty[] = "";
  char* none = empty;
  const double gamma = 1.0;
  if (const long s = TesseraClass::InitMosaic(info, none, none, none, none, gamma)) {
    std::fprintf(stderr, "InitMosaic: status=%ld\n", s);
    return 1;
  }
  std::string path = argv[1];
  char* p = path.data();
  long status;
  {
    TesseraClass image(0, TES_CS_RGB24);
    status = image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr);
    tagTes_Image_Desc desc{};
    if (status == 0) status = image.GetImageDesc(&desc);
    if (status == 0) {
      orvax::win::MemoryDC dc(desc.width, desc.height);
      const tagTes_Output_Info out{&dc, 0, 0, desc.width, desc.height, 0, 0, desc.width, desc.height};
      status = image.Display(out);
      if (status == 0) {
        const uint8_t* px = dc.pixel(desc.width / 2, desc.height / 2);
        const int want[3] = {std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4])};
        std::printf("%dx%d pixel %d %d %d\n", desc.width, desc.height, px[0], px[1], px[2]);
        if (px[0] != want[0] || px[1] != want[1] || px[2] != want[2]) status = -1;
      }
    }
  }
  TesseraClass::CloseMosaic();
  // Kroma links too: a status query needs no profile.
  std::printf("status=%ld kroma_argument=%d\n", status, int(KROMA_ERR_ARGUMENT));
  return status == 0 ? 0 : 1;
}
