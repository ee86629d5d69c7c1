"""Pillow plug-in: ``import kavel.pillow`` and PIL.Image.open reads Kavel files.

draft(mode, (w, h)) picks the coarsest scale whose size is still at least w x h, as Pillow
does for JPEG, so Image.thumbnail of a huge file decodes a small scale only.
"""

from PIL import Image, ImageFile

import kavel

_MODES = {1: "L", 3: "RGB"}


def _accept(prefix):
    return prefix[:4] == b"kvel"


class KavelImageFile(ImageFile.ImageFile):
    format = "KAVEL"
    format_description = "Kavel multiresolution wavelet image"

    def _open(self):
        if not _accept(self.fp.read(4)):
            raise SyntaxError("not a Kavel file")
        self.fp.seek(0)
        try:
            self._kavel = kavel.open(self.fp)
        except kavel.Error as error:
            raise SyntaxError(error.reason) from error
        if self._kavel.planes not in _MODES:
            raise SyntaxError(f"{self._kavel.planes} planes: only grey and RGB are supported")
        self.mode = _MODES[self._kavel.planes]
        self._size = (self._kavel.width, self._kavel.height)
        self._scale = 0
        self.info["levels"] = self._kavel.levels
        self.tile = [("kavel", (0, 0) + self.size, 0, None)]

    def draft(self, mode, size):
        if len(self.tile) != 1 or self._scale != 0 or size is None:
            return None
        scale = self._kavel.scale_for_size(int(size[0]), int(size[1]))
        if scale == 0:
            return None
        original = self.size
        self._scale = scale
        self._size = self._kavel.size_at(scale)
        self.tile = [("kavel", (0, 0) + self.size, 0, None)]
        # The region of the original that the scaled image covers, in its own pixels.
        box = (0, 0, original[0] / 2**scale, original[1] / 2**scale)
        return self.mode, box

    def load(self):
        if self.tile:
            # Decoded here, while the file object is still open: Pillow may close it after.
            pixels = self._kavel.read(scale=self._scale)
            self.im = Image.core.new(self.mode, self.size)
            self.frombytes(pixels.tobytes())
            self.tile = []
            self._kavel.close()
        return Image.Image.load(self)


Image.register_open(KavelImageFile.format, KavelImageFile, _accept)
Image.register_extension(KavelImageFile.format, ".kvl")
Image.register_mime(KavelImageFile.format, "image/x-kavel")
