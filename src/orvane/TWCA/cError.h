// Return codes of the signing engine. The signing module reads this file as
// its error table: one line per code, name, decimal code, then the message.
#pragma once
#define TWCA_OK 0 // 成功 (success)
#define TWCA_ERR_PFX_FILE 1102 // 憑證檔不存在、無法讀取或不是 PKCS#12 格式 (certificate file missing, unreadable or not PKCS#12)
#define TWCA_ERR_PROPERTY 1202 // 設定檔錯誤 (properties file missing, unreadable, without entries or with an invalid value)
#define TWCA_ERR_OPENSSL 5002 // 建立 OpenSSL 物件失敗 (creating an OpenSSL object failed)
#define TWCA_ERR_BUFFER 5003 // 輸出緩衝區太小 (output buffer too small)
#define TWCA_ERR_ARGUMENT 5005 // 參數錯誤或缺少密碼 (argument missing or empty, or no usable password)
#define TWCA_ERR_CERT 5010 // 憑證未載入或不符簽章憑證條件 (no certificate loaded, or signer filter not satisfied)
#define TWCA_ERR_CERT_EXPIRED 5011 // 憑證已過期 (certificate expired)
#define TWCA_ERR_CERT_NOT_YET_VALID 5012 // 憑證未生效 (certificate not yet valid)
#define TWCA_ERR_KEY_USAGE 5017 // 憑證用途不可簽章 (key usage does not allow signing)
#define TWCA_ERR_SIGN 5061 // 簽章演算法錯誤或簽章失敗 (unsupported digest, or signing failed)
#define TWCA_ERR_ENCRYPT 5063 // 密碼加密失敗 (encrypting the password failed)
#define TWCA_ERR_PFX_NOT_LOADED 5204 // 憑證尚未載入 (certificate not loaded)
#define TWCA_ERR_PFX_PASSWORD 5208 // 憑證密碼錯誤 (wrong certificate password)
#define TWCA_ERR_PFX_ALGORITHM 5209 // 憑證檔的加密演算法無法使用 (the certificate file's encryption algorithm is not available: OpenSSL's legacy provider did not load)
#define TWCA_ERR_ENCODING 5901 // 文字編碼轉換失敗或不支援的編碼 (text conversion failed or encoding not supported)
