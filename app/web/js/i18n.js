// The page's own words. Every text the page shows is written in English and passed through
// Velto.t, which looks it up in the catalog of the page's language; a text the catalog lacks
// stays English. Placeholders are written {name} and filled from the second argument.
(function (Velto) {
  "use strict";

  const catalogs = {};
  let language = "en";

  function fill(text, values) {
    if (!values) {
      return text;
    }
    return text.replace(/\{(\w+)\}/g, (whole, key) =>
      Object.prototype.hasOwnProperty.call(values, key) ? String(values[key]) : whole
    );
  }

  function t(text, values) {
    const catalog = catalogs[language];
    const translated = catalog && Object.prototype.hasOwnProperty.call(catalog, text) ? catalog[text] : text;
    return fill(translated, values);
  }

  function addCatalog(lang, entries) {
    catalogs[lang] = Object.assign(catalogs[lang] || {}, entries);
  }

  function setLanguage(lang) {
    language = lang;
  }

  // The words written into the page itself (its text and the titles, placeholders and labels
  // of its elements), put into the page's language once its catalog is there.
  const translatedAttributes = ["title", "placeholder", "aria-label"];
  function translateDocument(root) {
    const walker = root.ownerDocument.createTreeWalker(root, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      const words = node.nodeValue.trim().replace(/\s+/g, " ");
      if (words) {
        const translated = t(words);
        if (translated !== words) {
          node.nodeValue = node.nodeValue.replace(/\S[\s\S]*\S|\S/, translated);
        }
      }
    }
    for (const element of root.querySelectorAll("[" + translatedAttributes.join("],[") + "]")) {
      for (const name of translatedAttributes) {
        if (element.hasAttribute(name)) {
          element.setAttribute(name, t(element.getAttribute(name)));
        }
      }
    }
    root.ownerDocument.documentElement.lang = language;
  }

  Velto.t = t;
  Velto.i18n = { addCatalog, setLanguage, translateDocument };
})((globalThis.Velto = globalThis.Velto || {}));
