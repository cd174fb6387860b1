// What kind of file a name suggests, for the icon of its message.
(function (Velto) {
  "use strict";

  const extensions = {
    image: "png jpg jpeg gif webp bmp svg tif tiff heic heif ico avif raw cr2 nef",
    text: "txt md markdown log csv tsv json xml yaml yml ini conf cfg toml c cc cpp h hpp js ts py rs go java sh rb pl html css sql",
    archive: "zip tar gz tgz bz2 xz zst 7z rar deb rpm iso dmg jar apk",
    audio: "mp3 wav flac ogg oga opus m4a aac wma aiff mid midi",
    video: "mp4 mkv webm avi mov wmv m4v mpg mpeg ogv 3gp",
    document: "pdf doc docx odt rtf xls xlsx ods ppt pptx odp epub pages key numbers",
  };
  const kindByExtension = new Map();
  for (const [kind, list] of Object.entries(extensions)) {
    for (const extension of list.split(" ")) {
      kindByExtension.set(extension, kind);
    }
  }

  // "image", "text", "archive", "audio", "video", "document" or "other".
  function kindOf(name) {
    const base = String(name || "").toLowerCase();
    const dot = base.lastIndexOf(".");
    if (dot <= 0) {
      return "other";
    }
    return kindByExtension.get(base.slice(dot + 1)) || "other";
  }

  Velto.fileKinds = { kindOf };
})((window.Velto = window.Velto || {}));
