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

  Velto.t = t;
  Velto.i18n = { addCatalog, setLanguage };
})((globalThis.Velto = globalThis.Velto || {}));
