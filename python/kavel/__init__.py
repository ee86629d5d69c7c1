"""Kavel images: decode any window at any scale 1:2**s into numpy arrays, write new files.

    import kavel
    image = kavel.open("scan.kvl")                  # a path, bytes, memoryview or file object
    tile = image.read(scale=2, window=(0, 0, 255, 255))   # inclusive pixels at scale 2
    kavel.encode(tile, "tile.kvl", quality=90)

Failures raise subclasses of kavel.Error whose .reason names the cause and place.
``import kavel.pillow`` lets PIL.Image.open read Kavel files.
"""

from kavel._kavel import (
    ArgumentError,
    BadHeaderError,
    DamagedError,
    EncodeError,
    Error,
    FileError,
    Image,
    LimitError,
    NotKavelError,
    OutOfMemoryError,
    SourceChangedError,
    __version__,
    encode,
    open,
)

__all__ = [
    "ArgumentError",
    "BadHeaderError",
    "DamagedError",
    "EncodeError",
    "Error",
    "FileError",
    "Image",
    "LimitError",
    "NotKavelError",
    "OutOfMemoryError",
    "SourceChangedError",
    "__version__",
    "encode",
    "open",
]
