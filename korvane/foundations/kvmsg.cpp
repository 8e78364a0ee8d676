#include "korvane/foundations/kvmsg.h"

#include <QLocale>

namespace korvane {

// English, Italian, German, Spanish, French, Portuguese (Brazilian usage).
constexpr TKVMsg KVMSG_PREVIEW = {"Preview",      "Anteprima",        "Vorschau",
                                  "Vista Previa", "Prévisualisation", "Pré-Visualização"};
constexpr TKVMsg KVMSG_SOURCE = {"Source", "Sorgente", "Quelle", "Origen", "Source", "Origem"};
constexpr TKVMsg KVMSG_RESULT = {"Result", "Risultato", "Ergebnis", "Resultado", "Résultat", "Resultado"};
constexpr TKVMsg KVMSG_OK = {"OK", "OK", "OK", "Aceptar", "Ok", "OK"};
constexpr TKVMsg KVMSG_CANCEL = {"Cancel", "Annulla", "Abbrechen", "Cancelar", "Annuler", "Cancelar"};
constexpr TKVMsg KVMSG_LOCKPREVIEW = {"Lock preview",
                                      "Blocca anteprima",
                                      "Vorschau sperren",
                                      "Bloquear vista previa",
                                      "Verrouiller la prévisualisation",
                                      "Bloquear pré-visualização"};
constexpr TKVMsg KVMSG_COPYRESULTTOSOURCE = {
    "Copy Result to Source",      "Copia risultato nella sorgente",    "Ergebnis in Quelle kopieren",
    "Copiar resultado en origen", "Copier le résultat dans la source", "Copiar resultado para a origem"};
constexpr TKVMsg KVMSG_CONTRAST = {"Contrast",  "Contrasto", "Kontrast",
                                   "Contraste", "Contraste", "Contraste"};
constexpr TKVMsg KVMSG_BRIGHTNESS = {"Brightness", "Luminosità", "Helligkeit",
                                     "Brillo",     "Luminosité", "Brilho"};
constexpr TKVMsg KVMSG_HUE = {"Hue", "Tonalità", "Farbton", "Tono", "Teinte", "Matiz"};
constexpr TKVMsg KVMSG_SATURATION = {"Saturation", "Saturazione", "Sättigung",
                                     "Saturación", "Saturation",  "Saturação"};
constexpr TKVMsg KVMSG_VALUE = {"Value", "Valore", "Wert", "Valor", "Valeur", "Valor"};
constexpr TKVMsg KVMSG_BASECOLOR = {"Base color", "Colore base",     "Grundfarbe",
                                    "Color base", "Couleur de base", "Cor base"};
constexpr TKVMsg KVMSG_NEWCOLOR = {"New color",   "Nuovo colore",     "Neue Farbe",
                                   "Color nuevo", "Nouvelle couleur", "Nova cor"};
constexpr TKVMsg KVMSG_LUMINOSITY = {"Luminosity",  "Luminanza", "Luminanz",
                                     "Luminosidad", "Luminance", "Luminosidade"};
constexpr TKVMsg KVMSG_RED = {"Red", "Rosso", "Rot", "Rojo", "Rouge", "Vermelho"};
constexpr TKVMsg KVMSG_GREEN = {"Green", "Verde", "Grün", "Verde", "Vert", "Verde"};
constexpr TKVMsg KVMSG_BLUE = {"Blue", "Blu", "Blau", "Azul", "Bleu", "Azul"};
constexpr TKVMsg KVMSG_USERFILTER = {"User filter",       "Filtro utente",      "Benutzerfilter",
                                     "Filtro de usuario", "Filtre utilisateur", "Filtro personalizado"};
constexpr TKVMsg KVMSG_FILTERVALUES = {"Filter values",      "Valori del filtro", "Filterwerte",
                                       "Valores del filtro", "Valeurs du filtre", "Valores do filtro"};
constexpr TKVMsg KVMSG_PRESETS = {"Presets",      "Predefiniti", "Vorgaben",
                                  "Predefinidos", "Préréglages", "Predefinições"};
constexpr TKVMsg KVMSG_DIVISOR = {"Divisor", "Divisore", "Divisor", "Divisor", "Diviseur", "Divisor"};
constexpr TKVMsg KVMSG_LOAD = {"Load", "Carica", "Laden", "Cargar", "Charger", "Carregar"};
constexpr TKVMsg KVMSG_SAVE = {"Save", "Salva", "Speichern", "Guardar", "Enregistrer", "Salvar"};
constexpr TKVMsg KVMSG_EQUALIZATION = {"Equalization", "Equalizzazione", "Histogrammausgleich",
                                       "Ecualización", "Égalisation",    "Equalização"};
constexpr TKVMsg KVMSG_THRESHOLD = {"Threshold", "Soglia", "Schwellenwert", "Umbral", "Seuil", "Limiar"};
constexpr TKVMsg KVMSG_EQUALIZE = {"Equalize",  "Equalizza", "Ausgleichen",
                                   "Ecualizar", "Égaliser",  "Equalizar"};
constexpr TKVMsg KVMSG_HISTOGRAM = {"Histogram",  "Istogramma",  "Histogramm",
                                    "Histograma", "Histogramme", "Histograma"};
constexpr TKVMsg KVMSG_GRAY = {"Gray", "Grigio", "Grau", "Gris", "Gris", "Cinza"};
constexpr TKVMsg KVMSG_LIGHT = {"Light", "Luce", "Licht", "Luz", "Lumière", "Luz"};
constexpr TKVMsg KVMSG_LEFT = {"Left", "Sinistra", "Links", "Izquierda", "Gauche", "Esquerda"};
constexpr TKVMsg KVMSG_TOP = {"Top", "Alto", "Oben", "Arriba", "Haut", "Topo"};
constexpr TKVMsg KVMSG_WIDTH = {"Width", "Larghezza", "Breite", "Ancho", "Largeur", "Largura"};
constexpr TKVMsg KVMSG_HEIGHT = {"Height", "Altezza", "Höhe", "Alto", "Hauteur", "Altura"};
constexpr TKVMsg KVMSG_COLOR = {"Color", "Colore", "Farbe", "Color", "Couleur", "Cor"};
constexpr TKVMsg KVMSG_SOURCEIMAGEQUANTITY = {"Source image quantity",   "Quantità immagine sorgente",
                                              "Anteil des Quellbilds",   "Cantidad de imagen de origen",
                                              "Quantité d'image source", "Quantidade da imagem de origem"};
constexpr TKVMsg KVMSG_LENS = {"Lens", "Lente", "Linse", "Lente", "Lentille", "Lente"};
constexpr TKVMsg KVMSG_REFRACTION = {"Refraction", "Rifrazione", "Brechung",
                                     "Refracción", "Réfraction", "Refração"};
constexpr TKVMsg KVMSG_PARAMETERSPREVIEW = {"Parameters Preview",
                                            "Anteprima parametri",
                                            "Parametervorschau",
                                            "Vista previa de parámetros",
                                            "Prévisualisation des paramètres",
                                            "Pré-Visualização dos parâmetros"};
constexpr TKVMsg KVMSG_QUALITY = {"Quality", "Qualità", "Qualität", "Calidad", "Qualité", "Qualidade"};
constexpr TKVMsg KVMSG_DCTMETHOD = {"DCT method", "Metodo DCT",  "DCT-Methode",
                                    "Método DCT", "Méthode DCT", "Método DCT"};
constexpr TKVMsg KVMSG_SMOOTHINGFACTOR = {"Smoothing factor",   "Fattore di smussamento",
                                          "Glättungsfaktor",    "Factor de suavizado",
                                          "Facteur de lissage", "Fator de suavização"};
constexpr TKVMsg KVMSG_GRAYSCALE = {"Gray scale",       "Scala di grigi",  "Graustufen",
                                    "Escala de grises", "Niveaux de gris", "Escala de cinza"};
constexpr TKVMsg KVMSG_OPTIMALHUFFMAN = {
    "Optimal Huffman", "Huffman ottimizzato", "Optimierte Huffman-Tabellen",
    "Huffman óptimo",  "Huffman optimal",     "Huffman otimizado"};
constexpr TKVMsg KVMSG_ORIGINALSIZE = {"Original size",   "Dimensione originale", "Originalgröße",
                                       "Tamaño original", "Taille originale",     "Tamanho original"};
constexpr TKVMsg KVMSG_COMPRESSEDSIZE = {"Compressed size",   "Dimensione compressa", "Komprimierte Größe",
                                         "Tamaño comprimido", "Taille compressée",    "Tamanho comprimido"};
constexpr TKVMsg KVMSG_ADVANCED = {"Advanced",  "Avanzate",  "Fortgeschritten",
                                   "Avanzados", "Avanzados", "Avançados"};
constexpr TKVMsg KVMSG_PROGRESSIVE = {"Progressive", "Progressivo", "Progressiv",
                                      "Progresivo",  "Progressif",  "Progressivo"};
constexpr TKVMsg KVMSG_COMPRESSION = {"Compression", "Compressione", "Kompression",
                                      "Compresión",  "Compression",  "Compressão"};
constexpr TKVMsg KVMSG_IMAGEINDEX = {"Image index",      "Indice immagine",  "Bildindex",
                                     "Índice de imagen", "Index de l'image", "Índice da imagem"};
constexpr TKVMsg KVMSG_PHOTOMETRIC = {"Photometric", "Fotometria",  "Photometrie",
                                      "Fotometría",  "Photométrie", "Fotometria"};
constexpr TKVMsg KVMSG_SCANNDEDDOCUMENTINFO = {"Scanned document info",
                                               "Informazioni documento acquisito",
                                               "Angaben zum gescannten Dokument",
                                               "Información del documento escaneado",
                                               "Informations du document numérisé",
                                               "Informações do documento digitalizado"};
constexpr TKVMsg KVMSG_NAME = {"Name", "Nome", "Name", "Nombre", "Nom", "Nome"};
constexpr TKVMsg KVMSG_DESCRIPTION = {"Description", "Descrizione", "Beschreibung",
                                      "Descripción", "Description", "Descrição"};
constexpr TKVMsg KVMSG_PAGENAME = {"Page name",        "Nome pagina",    "Seitenname",
                                   "Nombre de página", "Nom de la page", "Nome da página"};
constexpr TKVMsg KVMSG_PAGENUMBER = {"Page number",      "Numero pagina",  "Seitennummer",
                                     "Número de página", "Numéro de page", "Número da página"};
constexpr TKVMsg KVMSG_OF = {"of", "di", "von", "de", "sur", "de"};
constexpr TKVMsg KVMSG_HORIZPOSITIONINCH = {"Horiz. Position (inch)",   "Posizione orizz. (pollici)",
                                            "Horiz. Position (Zoll)",   "Posición horiz. (pulgadas)",
                                            "Position horiz. (pouces)", "Posição horiz. (polegadas)"};
constexpr TKVMsg KVMSG_VERTPOSITIONINCH = {"Vert. Position (inch)",   "Posizione vert. (pollici)",
                                           "Vert. Position (Zoll)",   "Posición vert. (pulgadas)",
                                           "Position vert. (pouces)", "Posição vert. (polegadas)"};
constexpr TKVMsg KVMSG_COLORS = {"Colors", "Colori", "Farben", "Colores", "Couleurs", "Cores"};
constexpr TKVMsg KVMSG_TRANSPARENT = {"Transparent",  "Trasparente", "Transparent",
                                      "Transparente", "Transparent", "Transparente"};
constexpr TKVMsg KVMSG_TRANSPARENTCOLOR = {"Transparent color",  "Colore trasparente",   "Transparenzfarbe",
                                           "Color transparente", "Couleur transparente", "Cor transparente"};
constexpr TKVMsg KVMSG_INTERLACED = {"Interlaced",  "Interlacciato", "Interlaced",
                                     "Entrelazado", "Entrelacé",     "Entrelaçado"};
constexpr TKVMsg KVMSG_BACKGROUND = {"Background", "Sfondo", "Hintergrund", "Fondo", "Arrière-plan", "Fundo"};
constexpr TKVMsg KVMSG_HORIZPOSITION = {"Horiz. Position", "Posizione orizz.", "Horiz. Position",
                                        "Posición horiz.", "Position horiz.",  "Posição horiz."};
constexpr TKVMsg KVMSG_VERTPOSITION = {"Vert. Position", "Posizione vert.", "Vert. Position",
                                       "Posición vert.", "Position vert.",  "Posição vert."};
constexpr TKVMsg KVMSG_DELAYTIME = {"Delay time", "Tempo di ritardo", "Verzögerungszeit", "Tiempo de retardo",
                                    "Délai",      "Tempo de atraso"};
constexpr TKVMsg KVMSG_FILTER = {"Filter", "Filtro", "Filter", "Filtro", "Filtre", "Filtro"};
constexpr TKVMsg KVMSG_WAVE = {"Wave", "Onda", "Welle", "Onda", "Onde", "Onda"};
constexpr TKVMsg KVMSG_AMPLITUDE = {"Amplitude", "Ampiezza",  "Amplitude",
                                    "Amplitud",  "Amplitude", "Amplitude"};
constexpr TKVMsg KVMSG_WAVELENGTH = {"Wave length",      "Lunghezza d'onda", "Wellenlänge",
                                     "Longitud de onda", "Longueur d'onde",  "Comprimento de onda"};
constexpr TKVMsg KVMSG_PHASE = {"Phase", "Fase", "Phase", "Fase", "Phase", "Fase"};
constexpr TKVMsg KVMSG_REFLECTIVE = {"Reflective",  "Riflettente",   "Reflektierend",
                                     "Reflectante", "Réfléchissant", "Refletivo"};
constexpr TKVMsg KVMSG_PREVIEWS = {"Previews",       "Anteprime",         "Vorschauen",
                                   "Vistas previas", "Prévisualisations", "Pré-Visualizações"};
constexpr TKVMsg KVMSG_BUMPMAP = {"Bump map",        "Mappa a rilievo",   "Relief",
                                  "Mapa de relieve", "Placage de relief", "Mapa de relevo"};
constexpr TKVMsg KVMSG_NONE = {"None", "Nessuno", "Keiner", "Ninguno", "Aucun", "Nenhum"};
constexpr TKVMsg KVMSG_BLUR = {"Blur", "Sfocatura", "Weichzeichnen", "Desenfoque", "Flou", "Desfoque"};
constexpr TKVMsg KVMSG_EDGES = {"Edges", "Bordi", "Kanten", "Bordes", "Contours", "Bordas"};
constexpr TKVMsg KVMSG_EMBOSS = {"Emboss", "Rilievo", "Prägen", "Relieve", "Estampage", "Relevo"};
constexpr TKVMsg KVMSG_HIGHPASS = {"High Pass", "Passa alto", "Hochpass",
                                   "Paso alto", "Passe-haut", "Passa-alta"};
constexpr TKVMsg KVMSG_LOWPASS = {"Low Pass",  "Passa basso", "Tiefpass",
                                  "Paso bajo", "Passe-bas",   "Passa-baixa"};
constexpr TKVMsg KVMSG_BYTES = {"bytes", "byte", "Bytes", "bytes", "octets", "bytes"};
constexpr TKVMsg KVMSG_OPEN = {"Open", "Apri", "Öffnen", "Abrir", "Ouvrir", "Abrir"};
constexpr TKVMsg KVMSG_LOOKIN = {
    "Look in:", "Cerca in:", "Suchen in:", "Buscar en:", "Regarder dans :", "Procurar em:"};
constexpr TKVMsg KVMSG_FILENAME = {
    "File name:", "Nome file:", "Dateiname:", "Nombre de archivo:", "Nom du fichier :", "Nome do arquivo:"};
constexpr TKVMsg KVMSG_FILESOFTYPE = {
    "Files of type:", "Tipo file:", "Dateityp:", "Tipo de archivo:", "Type de fichier :", "Tipo de arquivo:"};
constexpr TKVMsg KVMSG_FILTERFILES = {"Filter files",       "File di filtro",     "Filterdateien",
                                      "Archivos de filtro", "Fichiers de filtre", "Arquivos de filtro"};
constexpr TKVMsg KVMSG_ALLFILES = {"All files",          "Tutti i file",      "Alle Dateien",
                                   "Todos los archivos", "Tous les fichiers", "Todos os arquivos"};
constexpr TKVMsg KVMSG_UNRECOGNIZEDFILTER = {"unrecognized filter", "filtro non riconosciuto",
                                             "unbekannter Filter",  "filtro no reconocido",
                                             "filtre non reconnu",  "filtro não reconhecido"};
constexpr TKVMsg KVMSG_CANNOTWRITE = {"cannot write",         "impossibile scrivere",
                                      "kann nicht schreiben", "no se puede escribir",
                                      "impossible d'écrire",  "não é possível gravar"};

namespace {
constexpr const TKVMsg* kAll[] = {
    &KVMSG_PREVIEW,
    &KVMSG_SOURCE,
    &KVMSG_RESULT,
    &KVMSG_OK,
    &KVMSG_CANCEL,
    &KVMSG_LOCKPREVIEW,
    &KVMSG_COPYRESULTTOSOURCE,
    &KVMSG_CONTRAST,
    &KVMSG_BRIGHTNESS,
    &KVMSG_HUE,
    &KVMSG_SATURATION,
    &KVMSG_VALUE,
    &KVMSG_BASECOLOR,
    &KVMSG_NEWCOLOR,
    &KVMSG_LUMINOSITY,
    &KVMSG_RED,
    &KVMSG_GREEN,
    &KVMSG_BLUE,
    &KVMSG_USERFILTER,
    &KVMSG_FILTERVALUES,
    &KVMSG_PRESETS,
    &KVMSG_DIVISOR,
    &KVMSG_LOAD,
    &KVMSG_SAVE,
    &KVMSG_EQUALIZATION,
    &KVMSG_THRESHOLD,
    &KVMSG_EQUALIZE,
    &KVMSG_HISTOGRAM,
    &KVMSG_GRAY,
    &KVMSG_LIGHT,
    &KVMSG_LEFT,
    &KVMSG_TOP,
    &KVMSG_WIDTH,
    &KVMSG_HEIGHT,
    &KVMSG_COLOR,
    &KVMSG_SOURCEIMAGEQUANTITY,
    &KVMSG_LENS,
    &KVMSG_REFRACTION,
    &KVMSG_PARAMETERSPREVIEW,
    &KVMSG_QUALITY,
    &KVMSG_DCTMETHOD,
    &KVMSG_SMOOTHINGFACTOR,
    &KVMSG_GRAYSCALE,
    &KVMSG_OPTIMALHUFFMAN,
    &KVMSG_ORIGINALSIZE,
    &KVMSG_COMPRESSEDSIZE,
    &KVMSG_ADVANCED,
    &KVMSG_PROGRESSIVE,
    &KVMSG_COMPRESSION,
    &KVMSG_IMAGEINDEX,
    &KVMSG_PHOTOMETRIC,
    &KVMSG_SCANNDEDDOCUMENTINFO,
    &KVMSG_NAME,
    &KVMSG_DESCRIPTION,
    &KVMSG_PAGENAME,
    &KVMSG_PAGENUMBER,
    &KVMSG_OF,
    &KVMSG_HORIZPOSITIONINCH,
    &KVMSG_VERTPOSITIONINCH,
    &KVMSG_COLORS,
    &KVMSG_TRANSPARENT,
    &KVMSG_TRANSPARENTCOLOR,
    &KVMSG_INTERLACED,
    &KVMSG_BACKGROUND,
    &KVMSG_HORIZPOSITION,
    &KVMSG_VERTPOSITION,
    &KVMSG_DELAYTIME,
    &KVMSG_FILTER,
    &KVMSG_WAVE,
    &KVMSG_AMPLITUDE,
    &KVMSG_WAVELENGTH,
    &KVMSG_PHASE,
    &KVMSG_REFLECTIVE,
    &KVMSG_PREVIEWS,
    &KVMSG_BUMPMAP,
    &KVMSG_NONE,
    &KVMSG_BLUR,
    &KVMSG_EDGES,
    &KVMSG_EMBOSS,
    &KVMSG_HIGHPASS,
    &KVMSG_LOWPASS,
    &KVMSG_BYTES,
    &KVMSG_OPEN,
    &KVMSG_LOOKIN,
    &KVMSG_FILENAME,
    &KVMSG_FILESOFTYPE,
    &KVMSG_FILTERFILES,
    &KVMSG_ALLFILES,
    &KVMSG_UNRECOGNIZEDFILTER,
    &KVMSG_CANNOTWRITE,
};
static_assert(std::size(kAll) == 90);
}  // namespace

std::span<const TKVMsg* const> KVMsgTable() { return kAll; }

int GetSystemPrimaryLanguage() {
  // Primary language identifiers as the window system of the original platform
  // numbers them; languages sharing one identifier (Serbo-Croatian, Norwegian)
  // map to the shared value.
  switch (QLocale().language()) {
    case QLocale::C:
    case QLocale::English: return 0x09;
    case QLocale::Arabic: return 0x01;
    case QLocale::Bulgarian: return 0x02;
    case QLocale::Catalan: return 0x03;
    case QLocale::Chinese: return 0x04;
    case QLocale::Czech: return 0x05;
    case QLocale::Danish: return 0x06;
    case QLocale::German: return 0x07;
    case QLocale::Greek: return 0x08;
    case QLocale::Spanish: return 0x0A;
    case QLocale::Finnish: return 0x0B;
    case QLocale::French: return 0x0C;
    case QLocale::Hebrew: return 0x0D;
    case QLocale::Hungarian: return 0x0E;
    case QLocale::Icelandic: return 0x0F;
    case QLocale::Italian: return 0x10;
    case QLocale::Japanese: return 0x11;
    case QLocale::Korean: return 0x12;
    case QLocale::Dutch: return 0x13;
    case QLocale::NorwegianBokmal:
    case QLocale::NorwegianNynorsk: return 0x14;
    case QLocale::Polish: return 0x15;
    case QLocale::Portuguese: return 0x16;
    case QLocale::Romansh: return 0x17;
    case QLocale::Romanian: return 0x18;
    case QLocale::Russian: return 0x19;
    case QLocale::Croatian:
    case QLocale::Serbian:
    case QLocale::Bosnian: return 0x1A;
    case QLocale::Slovak: return 0x1B;
    case QLocale::Albanian: return 0x1C;
    case QLocale::Swedish: return 0x1D;
    case QLocale::Thai: return 0x1E;
    case QLocale::Turkish: return 0x1F;
    case QLocale::Urdu: return 0x20;
    case QLocale::Indonesian: return 0x21;
    case QLocale::Ukrainian: return 0x22;
    case QLocale::Belarusian: return 0x23;
    case QLocale::Slovenian: return 0x24;
    case QLocale::Estonian: return 0x25;
    case QLocale::Latvian: return 0x26;
    case QLocale::Lithuanian: return 0x27;
    case QLocale::Tajik: return 0x28;
    case QLocale::Persian: return 0x29;
    case QLocale::Vietnamese: return 0x2A;
    case QLocale::Armenian: return 0x2B;
    case QLocale::Azerbaijani: return 0x2C;
    case QLocale::Basque: return 0x2D;
    case QLocale::Macedonian: return 0x2F;
    case QLocale::Afrikaans: return 0x36;
    case QLocale::Georgian: return 0x37;
    case QLocale::Faroese: return 0x38;
    case QLocale::Hindi: return 0x39;
    case QLocale::Maltese: return 0x3A;
    case QLocale::Irish: return 0x3C;
    case QLocale::Malay: return 0x3E;
    case QLocale::Kazakh: return 0x3F;
    case QLocale::Swahili: return 0x41;
    case QLocale::Bengali: return 0x45;
    case QLocale::Tamil: return 0x49;
    case QLocale::Welsh: return 0x52;
    case QLocale::Galician: return 0x56;
    default: return 0x00;
  }
}

int KVMsgIndexOfPrimaryLanguage(int primary) {
  switch (primary) {
    case 0x07: return 2;  // German
    case 0x0A: return 3;  // Spanish
    case 0x0C: return 4;  // French
    case 0x10: return 1;  // Italian
    case 0x16: return 5;  // Portuguese
    default: return 0;
  }
}

std::string kvmsg(const TKVMsg& msg, TMsgLanguage lang) {
  int index = 0;
  if (lang == msSystem)
    index = KVMsgIndexOfPrimaryLanguage(GetSystemPrimaryLanguage());
  else if (lang >= msEnglish && lang <= msPortuguese)
    index = int(lang) - int(msEnglish);
  return std::string(msg[size_t(index)]);
}

}  // namespace korvane
