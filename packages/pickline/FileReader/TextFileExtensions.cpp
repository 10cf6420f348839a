#include "pickline/FileReader/TextFileExtensions.h"

namespace pickline {

const std::unordered_set<std::string>& TextFileExtensions::supported() {
    static const std::unordered_set<std::string> extensions{
        // plain text and markup
        "txt", "md", "markdown", "text", "json", "yaml", "yml", "xml", "csv", "tsv", "html", "htm", "css",
        // web and application languages
        "js", "ts", "jsx", "tsx", "vue", "svelte", "astro", "swift", "py", "go", "rs", "rb", "java", "kt", "c",
        "cpp", "h", "hpp", "m", "mm",
        // shells
        "sh", "bash", "zsh", "fish",
        // configuration
        "toml", "ini", "cfg", "conf", "env", "properties",
        // other
        "log", "sql", "graphql", "gql", "gitignore", "editorconfig", "dockerignore", "makefile", "cmake",
    };
    return extensions;
}

}  // namespace pickline
