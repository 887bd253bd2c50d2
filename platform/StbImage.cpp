// The stb image reader and writer, compiled in for Windows builds; Linux
// builds link the system's libstb instead. File names given to stb are UTF-8
// there as everywhere else in the program.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WINDOWS_UTF8
#define STBIW_WINDOWS_UTF8
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
